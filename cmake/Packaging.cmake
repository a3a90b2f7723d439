# The Debian packages: `cpack` in a build tree makes, from one build and as Debian ships
# drivers, three packages from what `cmake --install` puts under /usr, each with the
# dependencies of what it holds (dpkg-shlibdeps per package):
#   morvane         the window and headless program, morvanectl, the user unit, the guide
#   indi-morvane    the INDI driver and its entry in the INDI drivers folder
#   morvane-alpaca  the ASCOM Alpaca server
# Install rules name their component; a rule without one belongs to morvane
# (CMAKE_INSTALL_DEFAULT_COMPONENT_NAME, set before the sources in the top CMakeLists.txt).
include(GNUInstallDirs)

set(MORVANE_PACKAGE_VERSION "${MORVANE_STRINGS_FileVersion}")

# Each package's documentation folder: the copyright, the changelog (compressed, without a
# time stamp) that Debian's policy asks of every package, and the README. A package's copyright
# also names what is compiled or embedded into its files: the fonts in the user's guide
# (morvane), the JSON library (morvane-alpaca).
set(morvane_package_build "${PROJECT_BINARY_DIR}/package")
morvane_gzip(morvane_changelog "${PROJECT_SOURCE_DIR}/data/package/changelog"
             "${morvane_package_build}/changelog.gz")
morvane_gzip(morvane_readme "${PROJECT_SOURCE_DIR}/README.md" "${morvane_package_build}/README.md.gz")
set(morvane_copyright_extra_morvane fonts)
set(morvane_copyright_extra_indi-morvane)
set(morvane_copyright_extra_morvane-alpaca nlohmann-json)
file(READ "${PROJECT_SOURCE_DIR}/data/package/copyright" morvane_copyright)
foreach(package morvane indi-morvane morvane-alpaca)
  set(text "${morvane_copyright}")
  foreach(extra IN LISTS morvane_copyright_extra_${package})
    set(file "${PROJECT_SOURCE_DIR}/data/package/copyright.${extra}")
    file(READ "${file}" part)
    string(APPEND text "\n${part}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
  endforeach()
  file(CONFIGURE OUTPUT "${morvane_package_build}/${package}/copyright" CONTENT "${text}" @ONLY)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${PROJECT_SOURCE_DIR}/data/package/copyright")

set(morvane_packages morvane)
if(TARGET indi_morvane_focus)
  list(APPEND morvane_packages indi-morvane)
endif()
if(TARGET morvane-alpaca)
  list(APPEND morvane_packages morvane-alpaca)
endif()
foreach(package IN LISTS morvane_packages)
  install(FILES "${morvane_package_build}/${package}/copyright" "${morvane_package_build}/changelog.gz"
                "${morvane_package_build}/README.md.gz"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package})
endforeach()

set(CPACK_GENERATOR DEB)
# The descriptions quote names: written into CPackConfig.cmake as they are.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${morvane_packages})
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION "${MORVANE_PACKAGE_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Morvane developers")
set(CPACK_PACKAGE_CONTACT "The Morvane developers <developers@morvane.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://morvane.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# One source, three binary packages. The driver and the server are clients of a running
# Morvane on the same session bus and do nothing without one, so they depend on it, of the
# same build: the bus interface and the named events' shared block are one build's contract.
# Each synopsis is the first line of its description (CPack prepends none: no
# CPACK_PACKAGE_DESCRIPTION_SUMMARY).
set(morvane_same "morvane (= ${MORVANE_PACKAGE_VERSION})")
foreach(package IN LISTS morvane_packages)
  string(TOUPPER "${package}" P)
  set(CPACK_DEBIAN_${P}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${P}_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_${P}_PACKAGE_SOURCE morvane)
  set(CPACK_DEBIAN_${P}_PACKAGE_SHLIBDEPS ON)
endforeach()

# Run by name: xdg-mime finds the PDF viewer for the guide; the bus carries every other
# program's commands. Neither is needed to focus from the window.
set(CPACK_DEBIAN_MORVANE_PACKAGE_RECOMMENDS
    "xdg-utils, evince | okular | atril | pdf-viewer, default-dbus-session-bus | dbus-session-bus")
set(CPACK_DEBIAN_MORVANE_PACKAGE_SUGGESTS "indi-morvane, morvane-alpaca")
set(CPACK_DEBIAN_MORVANE_DESCRIPTION
    "drive a motorised telescope focuser over a serial port
Morvane drives a motorised telescope focuser over one serial port. The motor
takes LX-200 focus commands or is switched by the port's RTS and DTR lines; a
shaft encoder on the CTS and DSR lines is counted into a position, and moves
land exactly on a count. An optional temperature module answers on the same
line.

It runs with a window or, on a computer without a screen, headless as a
systemd user service. Other programs command and follow the focuser over
D-Bus, from the command line with morvanectl. Without hardware it runs on a
simulated focuser.

The INDI driver is in indi-morvane, the ASCOM Alpaca server in
morvane-alpaca.")

set(CPACK_DEBIAN_INDI-MORVANE_PACKAGE_DEPENDS "${morvane_same}")
# indiserver starts the driver; a client such as KStars with Ekos drives it.
set(CPACK_DEBIAN_INDI-MORVANE_PACKAGE_RECOMMENDS "indi-bin")
set(CPACK_DEBIAN_INDI-MORVANE_PACKAGE_SUGGESTS "kstars")
set(CPACK_DEBIAN_INDI-MORVANE_DESCRIPTION
    "INDI focuser driver for Morvane
The INDI driver \"Morvane Focuser\" (indi_morvane_focus) lets INDI clients such
as KStars and Ekos command and follow the focuser of the Morvane running on
the same desktop session bus. Morvane keeps the serial port; the driver is
started by indiserver.")

set(CPACK_DEBIAN_MORVANE-ALPACA_PACKAGE_DEPENDS "${morvane_same}")
set(CPACK_DEBIAN_MORVANE-ALPACA_DESCRIPTION
    "ASCOM Alpaca focuser server for Morvane
morvane-alpaca serves the focuser of the Morvane running on the same desktop
session bus to ASCOM Alpaca clients such as NINA, over HTTP with Alpaca
discovery. Morvane keeps the serial port; the server listens on 127.0.0.1
unless told otherwise.")
include(CPack)
