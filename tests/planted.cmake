# The self-reporting DLL that the planting test puts next to a copy of the installer under
# the name of every system DLL the installer uses (tests/planted/planted.cc).
add_library(planted SHARED ${CMAKE_CURRENT_SOURCE_DIR}/planted/planted.cc)
set_target_properties(planted PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY
                      ${CMAKE_BINARY_DIR}/test_programs)
foreach(tests_target install_tests entry_tests)
  if(TARGET ${tests_target})
    add_dependencies(${tests_target} planted)
  endif()
endforeach()
