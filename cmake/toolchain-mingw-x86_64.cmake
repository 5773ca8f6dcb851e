# Cross-compilation for 64-bit Windows with Debian's MinGW-w64: the test build on machines
# that cannot run 32-bit code (Wine then runs the tests as 64-bit programs). What ships is
# always the 32-bit build (toolchain-mingw-i686.cmake).
set(LI_THREAD_MODEL "posix" CACHE STRING "MinGW thread model: posix or win32")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${LI_THREAD_MODEL})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${LI_THREAD_MODEL})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR /usr/bin/x86_64-w64-mingw32-gcc-ar-${LI_THREAD_MODEL} CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/x86_64-w64-mingw32-gcc-ranlib-${LI_THREAD_MODEL} CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_DLLTOOL /usr/bin/x86_64-w64-mingw32-dlltool CACHE FILEPATH "")
set(CMAKE_NM /usr/bin/x86_64-w64-mingw32-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP /usr/bin/x86_64-w64-mingw32-objdump CACHE FILEPATH "")
