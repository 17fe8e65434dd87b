# cmake --install: the programs, the configuration, the manual pages and the service files
# in the file-system hierarchy. Configured with the prefix /usr, the configuration goes to
# /etc/corvel (GNUInstallDirs' rule for /usr; /usr/local gives /usr/local/etc/corvel); the
# units, the sysusers file and the udev rule go where the CORVEL_*_DIR settings say (the
# Debian package sets the paths its systemd uses).
include(GNUInstallDirs)

set(CORVEL_UNIT_DIR "lib/systemd/system" CACHE STRING "systemd units (relative to the prefix, or absolute)")
set(CORVEL_SYSUSERS_DIR "lib/sysusers.d" CACHE STRING "sysusers.d files (relative to the prefix, or absolute)")
set(CORVEL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "udev rules (relative to the prefix, or absolute)")
option(CORVEL_MANPAGES "Build the manual pages (needs scdoc)" ON)

set(corvel_docdir ${CMAKE_INSTALL_DATADIR}/doc/corvel)
set(corvel_confdir ${CMAKE_INSTALL_FULL_SYSCONFDIR}/corvel)

install(TARGETS corvd32 corvnet32 corvpop32 corvweb corvsend corvadmin corvhttp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Debian's web servers run CGI programs from /usr/lib/cgi-bin.
install(PROGRAMS $<TARGET_FILE:corvweb> DESTINATION lib/cgi-bin)

install(DIRECTORY DESTINATION ${corvel_confdir})
install(FILES systemd/etc/page.ini systemd/etc/SNPP.INI systemd/etc/wwwpage.ini systemd/etc/HTTP.INI
        DESTINATION ${corvel_confdir})
# The mailboxes' passwords: not for every user.
install(FILES systemd/etc/POPPAGE.INI DESTINATION ${corvel_confdir} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

install(FILES sample/page.ini systemd/etc/SNPP.INI systemd/etc/POPPAGE.INI systemd/etc/wwwpage.ini systemd/etc/HTTP.INI
              systemd/web/corvweb-lighttpd.conf systemd/web/corvweb-apache.conf
        DESTINATION ${corvel_docdir}/examples)
install(FILES web/pages/form.htm web/pages/ok.htm web/pages/bad.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/corvel/www)

set(corvel_units systemd/corvd32.service systemd/corvnet32.service systemd/corvnet32.socket systemd/corvpop32.service
                 systemd/corvhttp.service)
# The units name the installed programs and the configuration folder of this prefix (the
# sources are written for the package's /usr and /etc/corvel).
set(corvel_configured_units)
foreach(unit ${corvel_units})
  file(READ ${PROJECT_SOURCE_DIR}/${unit} text)
  string(REPLACE "ExecStart=/usr/bin/" "ExecStart=${CMAKE_INSTALL_FULL_BINDIR}/" text "${text}")
  string(REPLACE " -c /etc/corvel" " -c ${corvel_confdir}" text "${text}")
  get_filename_component(name ${unit} NAME)
  file(WRITE ${PROJECT_BINARY_DIR}/systemd/${name} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${unit})
  list(APPEND corvel_configured_units ${PROJECT_BINARY_DIR}/systemd/${name})
endforeach()
install(FILES ${corvel_configured_units} DESTINATION ${CORVEL_UNIT_DIR})
install(FILES systemd/corvel.sysusers DESTINATION ${CORVEL_SYSUSERS_DIR} RENAME corvel.conf)
install(FILES systemd/60-corvel-modems.rules DESTINATION ${CORVEL_UDEV_RULES_DIR})
install(FILES systemd/corvel.logrotate DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d RENAME corvel)

# Manual pages: scdoc sources in man/, NAME.SECTION.scd, turned into roff at build time.
if(CORVEL_MANPAGES)
  find_program(SCDOC scdoc)
  if(NOT SCDOC)
    message(FATAL_ERROR "scdoc not found: install it (tools/install-deps.sh does) or configure with -DCORVEL_MANPAGES=OFF")
  endif()
  file(GLOB corvel_man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.scd)
  set(corvel_man_pages)
  foreach(src ${corvel_man_sources})
    get_filename_component(page ${src} NAME)
    string(REGEX REPLACE "\\.scd$" "" page ${page})
    string(REGEX MATCH "[0-9]$" section ${page})
    set(out ${PROJECT_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${out}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
                       COMMAND sh -c "\"$0\" < \"$1\" > \"$2\"" ${SCDOC} ${src} ${out}
                       DEPENDS ${src} VERBATIM)
    list(APPEND corvel_man_pages ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${corvel_man_pages})
endif()

# The install tree test (tests/install_tree_test.cpp) runs cmake --install on this build and
# checks the layout configured here: it needs everything installed, and the paths.
if(TARGET install_tree_test)
  add_dependencies(install_tree_test corvd32 corvnet32 corvpop32 corvweb corvsend corvadmin corvhttp manpages)
  foreach(dir UNIT SYSUSERS UDEV_RULES)
    if(IS_ABSOLUTE "${CORVEL_${dir}_DIR}")
      set(full_${dir} "${CORVEL_${dir}_DIR}")
    else()
      set(full_${dir} "${CMAKE_INSTALL_PREFIX}/${CORVEL_${dir}_DIR}")
    endif()
  endforeach()
  target_compile_definitions(install_tree_test PRIVATE
    CORVEL_INSTALL_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}"
    CORVEL_INSTALL_PREFIX="${CMAKE_INSTALL_PREFIX}"
    CORVEL_INSTALL_CONFDIR="${CMAKE_INSTALL_FULL_SYSCONFDIR}"
    CORVEL_INSTALL_DATADIR="${CMAKE_INSTALL_FULL_DATADIR}"
    CORVEL_INSTALL_MANDIR="${CMAKE_INSTALL_FULL_MANDIR}"
    CORVEL_INSTALL_UNITDIR="${full_UNIT}"
    CORVEL_INSTALL_SYSUSERSDIR="${full_SYSUSERS}"
    CORVEL_INSTALL_UDEVDIR="${full_UDEV_RULES}")
endif()
