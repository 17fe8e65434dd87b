# The modem area's end-to-end tests: the in-process one links the delivery code itself; all
# of them run build/bin/corvsim, and the TAP ones build/bin/corvd32 as well.
target_link_libraries(modem_deliver_test PRIVATE corvdelivery)
add_dependencies(modem_deliver_test corvsim)
foreach(t tap_delivery_test tap_retry_test)
  add_dependencies(${t} corvd32 corvsim)
endforeach()
