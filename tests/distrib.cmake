# Test inputs of the distribution-parameter, vendor-file, string-table and version tests.

# A data-only module with known string tables (English, Russian, Turkish) and a version
# record whose product and file versions differ.
add_library(resource_fixture SHARED
            ${CMAKE_CURRENT_SOURCE_DIR}/resource_fixture/resource_fixture.cc
            ${CMAKE_CURRENT_SOURCE_DIR}/resource_fixture/resource_fixture.rc)
set_target_properties(resource_fixture PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY
                      ${CMAKE_BINARY_DIR}/test_programs)
if(TARGET brand_tests)
  add_dependencies(brand_tests resource_fixture)
endif()
