# Tests of the UCP, numeric, TAP manual-mode and script drivers and their simulator endpoints.
set(protocols_sim_sources
  ${PROJECT_SOURCE_DIR}/tools/corvsim/ucp_centre.cpp
  ${PROJECT_SOURCE_DIR}/tools/corvsim/numeric_endpoint.cpp
  ${PROJECT_SOURCE_DIR}/tools/corvsim/tapm_terminal.cpp
  ${PROJECT_SOURCE_DIR}/tools/corvsim/script_endpoint.cpp)
if(TARGET protocols_sim_test)
  target_sources(protocols_sim_test PRIVATE ${protocols_sim_sources})
  target_link_libraries(protocols_sim_test PRIVATE corvmodem)
endif()
