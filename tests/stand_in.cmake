# The stand-in browser setup program and its signed variants (tests/stand_in/README.md).
# Output: ${CMAKE_BINARY_DIR}/stand_in/<variant>.exe and ids.json. The 100 MB variant is
# built only by the target stand_in_big (benchmarks).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(LI_OSSLSIGNCODE osslsigncode REQUIRED)

set(LI_STAND_IN_DIR ${CMAKE_BINARY_DIR}/stand_in)
set(_si_gen ${CMAKE_BINARY_DIR}/stand_in_gen)
set(_si_unsigned ${_si_gen}/unsigned)
set(_si_script ${CMAKE_CURRENT_SOURCE_DIR}/stand_in/make_fixtures.py)
set(_si_sets good no_signature_dat no_trusted_json short_signature_dat bad_key_index
             wrong_key json_changed certificates_object)
set(_si_variants good good_dual unlisted_dual sha1 unlisted self_signed lookalike unsigned
                 forged expired server_only leaf_issuer tampered no_signature_dat no_trusted_json
                 short_signature_dat bad_key_index wrong_key json_changed certificates_object)
file(MAKE_DIRECTORY ${_si_gen} ${_si_unsigned} ${LI_STAND_IN_DIR})

set(_si_rc_files)
foreach(set IN LISTS _si_sets)
  list(APPEND _si_rc_files ${_si_gen}/${set}.rc)
endforeach()
add_custom_command(
  OUTPUT ${_si_rc_files} ${_si_gen}/ids.json
  COMMAND ${Python3_EXECUTABLE} ${_si_script} resources --pki ${LI_PKI_DIR} --out ${_si_gen}
  COMMAND ${CMAKE_COMMAND} -E copy ${_si_gen}/ids.json ${LI_STAND_IN_DIR}/ids.json
  DEPENDS ${_si_script} ${LI_PKI_DIR}/.complete
  COMMENT "Making the stand-in's trusted lists and their signatures")

add_library(li_stand_in_code OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/stand_in/stand_in.cc)
target_link_libraries(li_stand_in_code PRIVATE li_core)

# One linked program per resource set; the resources are compiled by hand so that the
# payload files they name are tracked.
function(li_stand_in_program set)
  set(rc_obj ${_si_gen}/${set}_rc.o)
  add_custom_command(
    OUTPUT ${rc_obj}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${_si_gen}/${set}.rc -o ${rc_obj}
    DEPENDS ${_si_gen}/${set}.rc ${ARGN}
    COMMENT "Compiling the stand-in resources (${set})")
  set_source_files_properties(${rc_obj} PROPERTIES GENERATED TRUE EXTERNAL_OBJECT TRUE)
  add_executable(stand_in_unsigned_${set} WIN32 $<TARGET_OBJECTS:li_stand_in_code> ${rc_obj})
  target_link_libraries(stand_in_unsigned_${set} PRIVATE li_core)
  target_link_options(stand_in_unsigned_${set} PRIVATE -municode)
  set_target_properties(stand_in_unsigned_${set} PROPERTIES OUTPUT_NAME ${set}
                        RUNTIME_OUTPUT_DIRECTORY ${_si_unsigned})
endfunction()

set(_si_unsigned_files)
foreach(set IN LISTS _si_sets)
  li_stand_in_program(${set})
  list(APPEND _si_unsigned_files $<TARGET_FILE:stand_in_unsigned_${set}>)
endforeach()

set(_si_outputs)
foreach(variant IN LISTS _si_variants)
  list(APPEND _si_outputs ${LI_STAND_IN_DIR}/${variant}.exe)
endforeach()
add_custom_command(
  OUTPUT ${_si_outputs}
  COMMAND ${Python3_EXECUTABLE} ${_si_script} sign --pki ${LI_PKI_DIR} --unsigned ${_si_unsigned}
          --out ${LI_STAND_IN_DIR}
  DEPENDS ${_si_script} ${_si_unsigned_files}
  COMMENT "Signing the stand-in variants")
add_custom_target(stand_in_fixtures ALL DEPENDS ${_si_outputs} ${_si_gen}/ids.json)
foreach(tests_target trust_tests install_tests ui_tests entry_tests)
  if(TARGET ${tests_target})
    add_dependencies(${tests_target} stand_in_fixtures)
  endif()
endforeach()

# The 100 MB variant, for the verification benchmark only.
add_custom_command(
  OUTPUT ${_si_gen}/big.rc
  COMMAND ${Python3_EXECUTABLE} ${_si_script} big-resources --pki ${LI_PKI_DIR} --out ${_si_gen}
  DEPENDS ${_si_script} ${LI_PKI_DIR}/.complete
  COMMENT "Making the 100 MB stand-in payload")
li_stand_in_program(big ${_si_gen}/big.rc)
set_target_properties(stand_in_unsigned_big PROPERTIES EXCLUDE_FROM_ALL TRUE)
add_custom_command(
  OUTPUT ${LI_STAND_IN_DIR}/big.exe
  COMMAND ${Python3_EXECUTABLE} ${_si_script} sign --pki ${LI_PKI_DIR} --unsigned ${_si_unsigned}
          --out ${LI_STAND_IN_DIR} --sets big
  DEPENDS ${_si_script} $<TARGET_FILE:stand_in_unsigned_big>
  COMMENT "Signing the 100 MB stand-in")
add_custom_target(stand_in_big DEPENDS ${LI_STAND_IN_DIR}/big.exe)

# The stand-in's own behaviour, as the install-flow tests rely on it.
add_executable(stand_in_tests ${CMAKE_CURRENT_SOURCE_DIR}/stand_in/stand_in_test.cc)
target_link_libraries(stand_in_tests PRIVATE li_test_support gtest_main)
target_link_options(stand_in_tests PRIVATE -mconsole)
set_target_properties(stand_in_tests PROPERTIES CROSSCOMPILING_EMULATOR ${LI_WINE_RUN})
add_dependencies(stand_in_tests stand_in_fixtures)
gtest_discover_tests(stand_in_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                     PROPERTIES TIMEOUT 300 LABELS stand_in)
