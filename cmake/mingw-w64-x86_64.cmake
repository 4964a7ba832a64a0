# Cross-compiling the Windows x86-64 build with MinGW-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

# Libraries, headers and packages come from the MinGW-w64 tree only. The
# prefixes a user names in CMAKE_PREFIX_PATH (for example an installed
# TesselSDK) are roots too, so find_package() finds packages there as given.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH "${prefix}")
endforeach()
if(DEFINED ENV{CMAKE_PREFIX_PATH})
  string(REPLACE ":" ";" env_prefixes "$ENV{CMAKE_PREFIX_PATH}")
  list(APPEND CMAKE_FIND_ROOT_PATH ${env_prefixes})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian's wine64 package puts no command on PATH.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(EXISTS /usr/lib/wine/wine64)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
  endif()
endif()

# Programs link the compiler runtime (libstdc++, libgcc, winpthread)
# statically, so they need no runtime DLL next to them. (The library's own
# DLLs set -static on their targets.)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
