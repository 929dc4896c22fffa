# SPDX-License-Identifier: GPL-2.0-or-later
# Settings of the Debian package made by `cpack -G DEB`; included from the top
# CMakeLists.txt just before CPack itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zolt-converter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZOLT converter team")
# An address of a real mail domain form: Debian's checker refuses local ones.
set(ZOLT_MAINTAINER "ZOLT converter team <zolt-converter@example.org>")
set(CPACK_PACKAGE_CONTACT "${ZOLT_MAINTAINER}")
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

# Debian wants the change log and the manual page compressed with gzip -9
# and without a time stamp, so that the same sources give the same package.
find_program(ZOLT_GZIP gzip REQUIRED)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(ZOLT_PACKAGED_DOCS)
foreach(doc ${CMAKE_BINARY_DIR}/packaging/changelog ${CMAKE_CURRENT_LIST_DIR}/zolt-converter.1)
  get_filename_component(name ${doc} NAME)
  set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${ZOLT_GZIP} -9 -n -c ${doc} > ${out}
    DEPENDS ${doc} VERBATIM)
  list(APPEND ZOLT_PACKAGED_DOCS ${out})
endforeach()
add_custom_target(packaged_docs ALL DEPENDS ${ZOLT_PACKAGED_DOCS})
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_BINARY_DIR}/packaging/zolt-converter.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/zolt-converter.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
