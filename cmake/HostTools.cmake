# SPDX-License-Identifier: GPL-2.0-or-later
# The build-time tools of a cross build, built for the machine that builds:
# this same source tree configured again without the toolchain file, with
# ZOLT_HOST_TOOLS_ONLY (no window toolkit, no tests) and the system's SQLite.
# Sets ZOLT_HOST_NDBDATA_TOOL and the target zolt_host_tools.
include(ExternalProject)
set(zolt_host_dir ${CMAKE_BINARY_DIR}/host-tools)
set(ZOLT_HOST_NDBDATA_TOOL ${zolt_host_dir}/zolt-build-ndbdata)
ExternalProject_Add(zolt_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${zolt_host_dir}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOLT_HOST_TOOLS_ONLY=ON -DZOLT_BUILD_TESTS=OFF
             -DZOLT_BUILD_BENCH=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${zolt_host_dir} --target zolt-build-ndbdata
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${ZOLT_HOST_NDBDATA_TOOL}
  INSTALL_COMMAND "")
