# Tests of the UCP, numeric, TAP manual-mode and script drivers and their simulator endpoints.
set(protocols_sim_sources
  ${PROJECT_SOURCE_DIR}/tools/corvsim/ucp_centre.cpp
  ${PROJECT_SOURCE_DIR}/tools/corvsim/numeric_endpoint.cpp
  ${PROJECT_SOURCE_DIR}/tools/corvsim/tapm_terminal.cpp
  ${PROJECT_SOURCE_DIR}/tools/corvsim/script_endpoint.cpp)
foreach(t protocols_sim_test protocols_conversation_test)
  if(TARGET ${t})
    target_sources(${t} PRIVATE ${protocols_sim_sources})
    target_link_libraries(${t} PRIVATE corvmodem)
  endif()
endforeach()

# The pipe tests run build/bin/corvd32 and build/bin/corvsim.
if(TARGET protocols_pipe_test)
  target_link_libraries(protocols_pipe_test PRIVATE corvcommon corvplatform)
  foreach(p corvd32 corvsim)
    if(TARGET ${p})
      add_dependencies(protocols_pipe_test ${p})
    endif()
  endforeach()
endif()
