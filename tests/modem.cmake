# The modem area's in-process end-to-end tests link the delivery code itself.
if(TARGET modem_deliver_test)
  target_link_libraries(modem_deliver_test PRIVATE corvmodem)
endif()
