# Cross-compilation for 32-bit Windows with Debian's MinGW-w64: what ships.
set(LI_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
