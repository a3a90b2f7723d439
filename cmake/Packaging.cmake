# The Debian package: `cpack -G DEB` in a build tree makes morvane_<version>_<arch>.deb from
# what `cmake --install` puts under /usr, with the version of the program's version block.
include(GNUInstallDirs)

# The package's documentation folder: the copyright and the changelog (compressed, without a
# time stamp) that Debian's policy asks of every package.
set(morvane_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/morvane)
set(morvane_changelog "${PROJECT_BINARY_DIR}/package/changelog.gz")
morvane_gzip(morvane_changelog "${PROJECT_SOURCE_DIR}/data/package/changelog"
             "${morvane_changelog}")
install(FILES "${PROJECT_SOURCE_DIR}/data/package/copyright" "${morvane_changelog}"
        DESTINATION ${morvane_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VERSION "${MORVANE_STRINGS_FileVersion}")
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
# Run by name: xdg-mime finds the PDF viewer for the guide; the bus carries every other
# program's commands. Neither is needed to focus from the window.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "xdg-utils, evince | okular | atril | pdf-viewer, default-dbus-session-bus | dbus-session-bus")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "indi-bin, kstars")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drive a motorised telescope focuser over a serial port")
# The synopsis above; CPack indents the long description and marks its empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Morvane drives a motorised telescope focuser over one serial port. The motor
takes LX-200 focus commands or is switched by the port's RTS and DTR lines; a
shaft encoder on the CTS and DSR lines is counted into a position, and moves
land exactly on a count. An optional temperature module answers on the same
line.

Other programs command and follow the focuser over D-Bus, from the command
line with morvanectl, from INDI clients such as KStars and Ekos through the
included INDI driver, and from ASCOM Alpaca clients such as NINA through
morvane-alpaca. Without hardware it runs on a simulated focuser.")
include(CPack)
