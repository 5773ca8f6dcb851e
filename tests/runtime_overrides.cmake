# The runtime replacements that only the installer executable links
# (entry/runtime_overrides.cc), tested in a program of their own that links them the same
# way; the other test programs keep the libraries' own versions.
if(TARGET li_core)
  add_executable(runtime_overrides_tests
                 ${CMAKE_CURRENT_SOURCE_DIR}/runtime_overrides/runtime_overrides_test.cc
                 ${CMAKE_SOURCE_DIR}/entry/runtime_overrides.cc)
  # For the stop that the program's abort ends in (platform/fatal.h) and its log line.
  target_link_libraries(runtime_overrides_tests PRIVATE li_test_support jansson gtest_main)
  target_compile_definitions(runtime_overrides_tests PRIVATE LI_KEEP_LIBRARY_THROW_HELPERS)
  target_link_options(runtime_overrides_tests PRIVATE -mconsole)
  set_target_properties(runtime_overrides_tests PROPERTIES CROSSCOMPILING_EMULATOR ${LI_WINE_RUN})
  gtest_discover_tests(runtime_overrides_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 300 LABELS runtime)
endif()
