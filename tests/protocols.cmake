# Tests of the UCP, numeric, TAP manual-mode and script drivers: in-process against the
# simulator's endpoints (its library), and through a real corvd32 and corvsim.
foreach(t protocols_sim_test protocols_conversation_test)
  target_link_libraries(${t} PRIVATE corvdelivery corvsimlib)
endforeach()
target_link_libraries(protocols_pipe_test PRIVATE corvcommon corvplatform)
add_dependencies(protocols_pipe_test corvd32 corvsim)
