# Cross-compiles for 64-bit Windows with mingw-w64 (Debian's mingw-w64
# package). The -posix compilers are the ones whose C++ runtime has
# std::thread, std::mutex and std::condition_variable, which the library's
# tests and GoogleTest need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VX_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VX_MINGW_PREFIX}-objdump)

# Appended, so that a consumer can add its own roots (an installed prefix).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${VX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs run under Wine: CTest starts the tests through it. The loader of
# Debian's wine64 package is not on PATH.
find_program(VX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VX_WINE})
endif()
