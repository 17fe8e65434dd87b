# The mail gateway's end-to-end tests need the program built, and the in-process ones the library.
foreach(t pop_gateway_test pop_tls_test pop_fake_server_test pop_server_test)
  if(TARGET ${t})
    add_dependencies(${t} corvpop32)
    target_link_libraries(${t} PRIVATE corvpopgate)
  endif()
endforeach()
