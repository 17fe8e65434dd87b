# The SNPP end-to-end tests start build/bin/corvnet32 (and corvd32 when it is built).
foreach(t snpp_startup_test snpp_corvd_test)
  if(TARGET ${t})
    add_dependencies(${t} corvnet32)
  endif()
endforeach()
if(TARGET snpp_corvd_test AND TARGET corvd32)
  add_dependencies(snpp_corvd_test corvd32)
endif()
