# Cross-compilation for 64-bit Windows with Debian's MinGW-w64: the test build on machines
# that cannot run 32-bit code (Wine then runs the tests as 64-bit programs). What ships is
# always the 32-bit build (toolchain-mingw-i686.cmake).
set(LI_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
