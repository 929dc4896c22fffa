# SPDX-License-Identifier: GPL-2.0-or-later
# The Windows program's folder as the installer lays it out, gathered in
# <build>/windows-dist by the target windows_dist, and the NSIS installer made
# from it by the target windows_installer
# (zolt-converter-<version>-setup.exe in the build folder).
#
# Only what the program loads: Qt Core, Gui and Widgets, the Windows platform
# plugin and the Windows Vista style; the PNG writer is part of Qt Gui, so no
# image format plugin. The MinGW runtime DLLs come from the compiler.
set(ZOLT_DIST_DIR ${CMAKE_BINARY_DIR}/windows-dist)
set(ZOLT_INSTALLER ${CMAKE_BINARY_DIR}/zolt-converter-${PROJECT_VERSION}-setup.exe)

set(zolt_runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(found "${found}" ABSOLUTE)
  if(NOT EXISTS "${found}")
    message(FATAL_ERROR "The MinGW runtime ${dll} was not found (${CMAKE_CXX_COMPILER})")
  endif()
  list(APPEND zolt_runtime_dlls ${found})
endforeach()
set(ZOLT_MINGW_RUNTIME_DLLS ${zolt_runtime_dlls} CACHE INTERNAL "")

# zolt-converter.com: the console face of the window program, which cmd.exe
# and PowerShell take for "zolt-converter" and wait for (its source says why).
enable_language(C)
add_executable(zolt-converter-console packaging/windows/console-launcher.c)
set_target_properties(zolt-converter-console PROPERTIES OUTPUT_NAME zolt-converter SUFFIX .com
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} C_STANDARD 99)
target_link_options(zolt-converter-console PRIVATE -static)

foreach(plugin QWindowsIntegrationPlugin QWindowsVistaStylePlugin)
  if(NOT TARGET Qt6::${plugin})
    message(FATAL_ERROR "Qt6::${plugin} is missing: the Qt for Windows lacks it")
  endif()
endforeach()

add_custom_target(windows_dist ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZOLT_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZOLT_DIST_DIR}/platforms ${ZOLT_DIST_DIR}/styles
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zolt-converter>
          $<TARGET_FILE:zolt-converter-console> ${ZOLT_NDBDATA}
          ${PROJECT_SOURCE_DIR}/data/land-110m.txt ${ZOLT_MINGW_RUNTIME_DLLS}
          $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
          ${ZOLT_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin>
          ${ZOLT_DIST_DIR}/platforms
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin>
          ${ZOLT_DIST_DIR}/styles
  # Symbols are for debugging here, not for the users' disks.
  COMMAND ${CMAKE_STRIP} --strip-unneeded ${ZOLT_DIST_DIR}/zolt-converter.exe
          ${ZOLT_DIST_DIR}/zolt-converter.com ${ZOLT_DIST_DIR}/Qt6Core.dll
          ${ZOLT_DIST_DIR}/Qt6Gui.dll ${ZOLT_DIST_DIR}/Qt6Widgets.dll
          ${ZOLT_DIST_DIR}/platforms/qwindows.dll ${ZOLT_DIST_DIR}/styles/qwindowsvistastyle.dll
          ${ZOLT_DIST_DIR}/libstdc++-6.dll ${ZOLT_DIST_DIR}/libgcc_s_seh-1.dll
          ${ZOLT_DIST_DIR}/libwinpthread-1.dll
  # Licences as Windows shows text files: the program's, and the data's.
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/LICENSE ${ZOLT_DIST_DIR}/LICENSE.txt
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/data/README.md
          ${ZOLT_DIST_DIR}/DATA-LICENSE.txt
  DEPENDS zolt-converter zolt-converter-console ndbdata
  COMMENT "Gathering the Windows program's folder in windows-dist"
  VERBATIM)

find_program(ZOLT_MAKENSIS makensis)
if(ZOLT_MAKENSIS)
  add_custom_target(windows_installer
    COMMAND ${ZOLT_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DDIST=${ZOLT_DIST_DIR}
            -DOUTFILE=${ZOLT_INSTALLER} ${PROJECT_SOURCE_DIR}/packaging/windows/zolt-converter.nsi
    DEPENDS windows_dist
    BYPRODUCTS ${ZOLT_INSTALLER}
    COMMENT "Making the installer zolt-converter-${PROJECT_VERSION}-setup.exe"
    VERBATIM)
else()
  message(STATUS "makensis not found (Debian package nsis): no Windows installer target")
endif()
