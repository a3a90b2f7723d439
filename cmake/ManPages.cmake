# Files Debian installs compressed (manual pages, the package's changelog) are compressed at
# build time without a time stamp, so that the package is reproducible.
include(GNUInstallDirs)
find_program(MORVANE_GZIP gzip REQUIRED)

# morvane_gzip(<target> <source> <packed>): <packed> made from <source> by a target built with
# everything.
function(morvane_gzip target source packed)
  get_filename_component(folder "${packed}" DIRECTORY)
  add_custom_command(OUTPUT "${packed}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
    COMMAND ${MORVANE_GZIP} -9nc "${source}" > "${packed}"
    DEPENDS "${source}"
    COMMENT "Compressing ${source}")
  add_custom_target(${target} ALL DEPENDS "${packed}")
endfunction()

# morvane_install_man_page(<program> [<component>]): the program's manual page, written by hand
# in roff as docs/man/<program>.1, installed in section 1 with the program's package.
function(morvane_install_man_page program)
  set(component ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
  if(ARGC GREATER 1)
    set(component ${ARGV1})
  endif()
  set(packed "${PROJECT_BINARY_DIR}/man/${program}.1.gz")
  morvane_gzip(${program}_man "${PROJECT_SOURCE_DIR}/docs/man/${program}.1" "${packed}")
  install(FILES "${packed}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
