# SPDX-License-Identifier: GPL-3.0-or-later
# Cross-building for 64-bit Windows with Debian's MinGW-w64. The -posix
# compilers use the POSIX thread model, which std::thread needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KDX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KDX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KDX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KDX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KDX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs need no MinGW runtime DLLs beside them under Wine or on a
# machine without MinGW.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
