# morvane_install_man_page(<program>): the program's manual page, written by hand in roff as
# docs/man/<program>.1, compressed at build time (as Debian installs manual pages, without a
# time stamp so that the package is reproducible) and installed in section 1.
include(GNUInstallDirs)
find_program(MORVANE_GZIP gzip REQUIRED)
function(morvane_install_man_page program)
  set(source "${PROJECT_SOURCE_DIR}/docs/man/${program}.1")
  set(packed "${PROJECT_BINARY_DIR}/man/${program}.1.gz")
  add_custom_command(OUTPUT "${packed}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/man"
    COMMAND ${MORVANE_GZIP} -9nc "${source}" > "${packed}"
    DEPENDS "${source}"
    COMMENT "Compressing the manual page of ${program}")
  add_custom_target(${program}_man ALL DEPENDS "${packed}")
  install(FILES "${packed}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
