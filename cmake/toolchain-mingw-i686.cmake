# Cross-compilation for 32-bit Windows with Debian's MinGW-w64.
#
# Two thread models: "posix" (the default) gives the C++ library's threading headers, which
# GoogleTest needs; "win32" links no pthread emulation and makes the shipped executable about
# 30 KB smaller. Product code uses only Windows threads and locks, so it builds with both.
set(LI_THREAD_MODEL "posix" CACHE STRING "MinGW thread model: posix or win32")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${LI_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${LI_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_AR /usr/bin/i686-w64-mingw32-gcc-ar-${LI_THREAD_MODEL} CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/i686-w64-mingw32-gcc-ranlib-${LI_THREAD_MODEL} CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
