# What both MinGW-w64 toolchain files share; each sets LI_MINGW_ARCH (i686 or x86_64) first.
#
# Two thread models: "posix" (the default) gives the C++ library's threading headers, which
# GoogleTest needs; "win32" links no pthread emulation and makes the shipped executable about
# 30 KB smaller. Product code uses only Windows threads and locks, so it builds with both.
set(LI_THREAD_MODEL "posix" CACHE STRING "MinGW thread model: posix or win32")
set(_prefix ${LI_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${LI_MINGW_ARCH})
set(CMAKE_C_COMPILER ${_prefix}-gcc-${LI_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${_prefix}-g++-${LI_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${_prefix}-windres)
set(CMAKE_AR /usr/bin/${_prefix}-gcc-ar-${LI_THREAD_MODEL} CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${_prefix}-gcc-ranlib-${LI_THREAD_MODEL} CACHE FILEPATH "")
set(CMAKE_DLLTOOL /usr/bin/${_prefix}-dlltool CACHE FILEPATH "")
set(CMAKE_NM /usr/bin/${_prefix}-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP /usr/bin/${_prefix}-objdump CACHE FILEPATH "")
set(CMAKE_OBJCOPY /usr/bin/${_prefix}-objcopy CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
