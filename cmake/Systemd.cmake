# libsystemd for the servers' notifications (READY, STOPPING, WATCHDOG), used only when
# it is there at build time: without it platform/service_notify.cpp does nothing, and the
# programs run the same outside systemd either way.
option(CORVEL_SYSTEMD "Tell systemd when a server is ready (needs libsystemd-dev)" ON)
set(CORVEL_HAVE_SYSTEMD OFF)
if(CORVEL_SYSTEMD)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(LIBSYSTEMD QUIET IMPORTED_TARGET libsystemd)
  endif()
  if(LIBSYSTEMD_FOUND)
    set(CORVEL_HAVE_SYSTEMD ON)
    target_compile_definitions(corvplatform PRIVATE CORVEL_HAVE_SYSTEMD)
    target_link_libraries(corvplatform PUBLIC PkgConfig::LIBSYSTEMD)
  endif()
endif()
message(STATUS "systemd notifications: ${CORVEL_HAVE_SYSTEMD}")
