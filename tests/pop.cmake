# The mail gateway's end-to-end tests run the programs they start, and the in-process ones
# use the library.
foreach(t pop_gateway_test pop_tls_test pop_fake_server_test pop_server_test)
  if(TARGET ${t})
    add_dependencies(${t} corvpop32)
    target_link_libraries(${t} PRIVATE corvpopgate)
  endif()
endforeach()
if(TARGET pop_server_test AND TARGET corvd32)
  add_dependencies(pop_server_test corvd32)
endif()
