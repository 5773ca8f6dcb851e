# Third-party code comes from Debian's source packages, never from this repository:
# Jansson from `apt-get source jansson` (fetched by tools/setup.sh), GoogleTest from the
# sources that the googletest package installs.
set(LI_JANSSON_SOURCE_DIR "" CACHE PATH "Jansson source tree (Debian source package)")
if(NOT LI_JANSSON_SOURCE_DIR)
  file(GLOB _jansson_dirs LIST_DIRECTORIES true /usr/src/jansson-src/jansson-*)
  list(FILTER _jansson_dirs EXCLUDE REGEX "\\.(tar|dsc|gz|xz)")
  list(GET _jansson_dirs 0 LI_JANSSON_SOURCE_DIR)
endif()
if(NOT EXISTS ${LI_JANSSON_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "Jansson sources not found; run `make setup` first")
endif()

set(JANSSON_BUILD_SHARED_LIBS OFF CACHE BOOL "" FORCE)
set(JANSSON_EXAMPLES OFF CACHE BOOL "" FORCE)
set(JANSSON_WITHOUT_TESTS ON CACHE BOOL "" FORCE)
set(JANSSON_BUILD_DOCS OFF CACHE BOOL "" FORCE)
set(JANSSON_INSTALL OFF CACHE BOOL "" FORCE)
# The program seeds Jansson's hash function itself before any JSON is made (entry/entry.cc),
# so Jansson's own seed sources are never used: no /dev/urandom, no CryptoAPI, and the
# timestamp fallback from time() instead of MinGW's gettimeofday.
set(USE_URANDOM OFF CACHE BOOL "" FORCE)
set(USE_WINDOWS_CRYPTOAPI OFF CACHE BOOL "" FORCE)
set(HAVE_GETTIMEOFDAY OFF CACHE BOOL "" FORCE)
# Integers are read with the system C library's _strtoi64 (same overflow report, ERANGE)
# instead of MinGW's own strtoll.
set(HAVE_STRTOLL OFF CACHE BOOL "" FORCE)
set(HAVE_STRTOQ OFF CACHE BOOL "" FORCE)
add_subdirectory(${LI_JANSSON_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/jansson EXCLUDE_FROM_ALL)
target_include_directories(jansson INTERFACE ${CMAKE_BINARY_DIR}/_deps/jansson/include)
target_compile_options(jansson PRIVATE -w)

if(LI_BUILD_TESTS)
  set(LI_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package)")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${LI_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
endif()
