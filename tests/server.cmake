# The server's end-to-end tests run build/bin/corvd32: build it before them.
foreach(t server_startup_test server_pipe_test server_at_test server_concurrency_test)
  if(TARGET ${t} AND TARGET corvd32)
    add_dependencies(${t} corvd32)
  endif()
endforeach()
