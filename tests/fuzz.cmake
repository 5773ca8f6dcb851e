# The long damage runs over the parsers of outside input (tests/fuzz/fuzz_parsers.cc), run by
# `make fuzz` under Wine's heap checking; not part of the test suite.
add_executable(fuzz_parsers ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_parsers.cc)
target_link_libraries(fuzz_parsers PRIVATE li_test_support)
target_link_options(fuzz_parsers PRIVATE -municode -mconsole)
set_target_properties(fuzz_parsers PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/test_programs)
add_dependencies(fuzz_parsers lite_installer stand_in_fixtures)
