# The mail gateway's end-to-end tests run the programs they start, and the in-process ones
# use the library.
foreach(t pop_gateway_test pop_tls_test pop_fake_server_test pop_server_test)
  add_dependencies(${t} corvpop32)
  target_link_libraries(${t} PRIVATE corvpopgate)
endforeach()
add_dependencies(pop_server_test corvd32)
