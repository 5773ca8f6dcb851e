# Host-side checks of the shipped executable's PE image (tests/image/check_image.py): the
# DLLs it imports and only functions XP SP3 exports from them (tests/image/xp_sp3_exports.txt),
# WinINet delay-loaded, ASLR and DEP, an XP-loadable layout, and the runtime replacements
# keeping the library code they replace out of the link. The release profile
# is what ships, so a fixture builds it in this build's release_profile folder (the same
# sources, release hosts, win32 thread model, the test PKI's keys standing in for the
# publisher's), always for 32-bit x86; the local-profile executable is checked too when it is
# built for x86 (not when this machine's test build is a 64-bit one). The test of `make release`
# (tests/tools/test_release.py) signs and stamps that same build.
#
# Run as a script (cmake -P), this file is that fixture.
if(CMAKE_SCRIPT_MODE_FILE)
  foreach(_var LI_SOURCE_DIR LI_RELEASE_DIR LI_TOOLCHAIN LI_KEYS)
    if(NOT ${_var})
      message(FATAL_ERROR "${_var} is not set")
    endif()
  endforeach()
  if(NOT EXISTS ${LI_RELEASE_DIR}/build.ninja)
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${LI_SOURCE_DIR} -B ${LI_RELEASE_DIR} -G Ninja
                            -DCMAKE_TOOLCHAIN_FILE=${LI_TOOLCHAIN} -DLI_PROFILE=release
                            -DLI_TRUSTED_KEYS_FILE=${LI_KEYS}
                            -DLI_THREAD_MODEL=win32 -DLI_BUILD_TESTS=OFF
                    RESULT_VARIABLE _result)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "configuring the release profile failed")
    endif()
  endif()
  # One job: the Wine tests of the same run share the machine.
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${LI_RELEASE_DIR} --target lite_installer -j 1
                  RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "building the release-profile executable failed")
  endif()
  return()
endif()

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(LI_RELEASE_PROFILE_DIR ${CMAKE_BINARY_DIR}/release_profile)
set(_image_release_dir ${LI_RELEASE_PROFILE_DIR})
# The test PKI's ten list-signing keys, in the form a publisher hands over its own.
set(LI_TEST_KEYS_FILE ${CMAKE_BINARY_DIR}/test_trusted_keys.txt)
set(_keys "")
foreach(n RANGE 9)
  file(READ ${LI_PKI_DIR}/keys/key${n}.spki.b64 _key)
  string(STRIP "${_key}" _key)
  string(APPEND _keys "${_key}\n")
endforeach()
file(CONFIGURE OUTPUT ${LI_TEST_KEYS_FILE} CONTENT "${_keys}")
add_test(NAME Image.BuildReleaseProfile
         COMMAND ${CMAKE_COMMAND} -DLI_SOURCE_DIR=${CMAKE_SOURCE_DIR}
                 -DLI_RELEASE_DIR=${_image_release_dir}
                 -DLI_TOOLCHAIN=${CMAKE_SOURCE_DIR}/cmake/toolchain-mingw-i686.cmake
                 -DLI_KEYS=${LI_TEST_KEYS_FILE}
                 -P ${CMAKE_CURRENT_LIST_FILE})
set_tests_properties(Image.BuildReleaseProfile PROPERTIES FIXTURES_SETUP release_profile_image
                     TIMEOUT 1200 LABELS image)
add_test(NAME Image.Checks
         COMMAND ${Python3_EXECUTABLE} -B -m unittest -v test_check_image
         WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/image)
set_tests_properties(Image.Checks PROPERTIES FIXTURES_REQUIRED release_profile_image
                     TIMEOUT 120 LABELS image ENVIRONMENT
  "LI_LOCAL_ARCH=${CMAKE_SYSTEM_PROCESSOR};LI_LOCAL_THREAD_MODEL=${LI_THREAD_MODEL};LI_LOCAL_IMAGE=${CMAKE_BINARY_DIR}/lite_installer.exe;LI_LOCAL_MAP=${CMAKE_BINARY_DIR}/lite_installer.map;LI_RELEASE_IMAGE=${_image_release_dir}/lite_installer.exe;LI_RELEASE_MAP=${_image_release_dir}/lite_installer.map")
