# SPDX-License-Identifier: GPL-2.0-or-later
# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers, in
# their POSIX-threads variant (std::thread and std::mutex need it; Qt was
# built with the same). Used by scripts/build-windows.sh:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=<Qt for win32-g++> -DQT_HOST_PATH=/usr ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZOLT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZOLT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOLT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOLT_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW root or from packages named by
# CMAKE_PREFIX_PATH (Qt); programs (moc, uic, python) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZOLT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Tests built here run under Wine (ctest; scripts/test-windows.sh sets the
# Wine prefix and where the DLLs are).
find_program(ZOLT_WINE NAMES wine)
if(ZOLT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOLT_WINE})
endif()
