# SPDX-License-Identifier: GPL-2.0-or-later
# Settings of the Debian package made by `cpack -G DEB`; included from the top
# CMakeLists.txt just before CPack itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zolt-converter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZOLT converter team")
set(CPACK_PACKAGE_CONTACT "ZOLT converter team <team@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter of old beacon listening logs to the beacon database")
set(CPACK_PACKAGE_DESCRIPTION
    "A step-by-step wizard for NDB listeners that moves the receptions of the old\n\
fixed-record logbook backups into the new beacon database. Every reception is\n\
matched by callsign and frequency against the shipped list of 7,077 radio\n\
beacons; ambiguous and unresolved receptions are settled on a review screen,\n\
with the candidates ranked by distance from the listening location and a map\n\
of the beacons logged there, and can be saved as text reports.")
# Packages install under /usr whatever CMAKE_INSTALL_PREFIX a developer uses.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build type keeps debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The architecture is left to CPack, which asks `dpkg --print-architecture`.
# Library dependencies (Qt 6, SQLite, the C++ runtime) come from dpkg-shlibdeps
# (package dpkg-dev), so they match the libraries the program was linked with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
