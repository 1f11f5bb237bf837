# SPDX-License-Identifier: Apache-2.0
# Cross-building the plain C++ parts for 64-bit Windows with Debian's MinGW-w64 (the POSIX
# threads variant), and running what is built under Wine (scripts/windows-check.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the C++ runtime inside them, so Wine needs no MinGW DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian installs the 64-bit loader outside PATH unless the "wine" package is there too.
find_program(REBURN3_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(REBURN3_WINE NAMES wine64 wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${REBURN3_WINE})

# GCC 12 at -O3 (the Release build) reports a std::string append inlined into memcpy as an
# overlapping copy of impossible size (GCC bug 105651, fixed in GCC 13): a false -Wrestrict.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
