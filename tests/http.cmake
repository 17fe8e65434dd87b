# The corvhttp end-to-end tests start build/bin/corvhttp in front of build/bin/corvd32, with
# build/bin/corvsim as the pagers' terminal, and use curl, openssl and Python's
# prometheus_client from Debian.
if(TARGET http_corvd_test)
  add_dependencies(http_corvd_test corvhttp corvd32 corvsim)
endif()
