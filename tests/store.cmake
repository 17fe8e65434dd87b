# The page store's end-to-end tests run build/bin/corvd32 against build/bin/corvsim.
if(TARGET store_crash_test)
  add_dependencies(store_crash_test corvd32 corvsim)
endif()
