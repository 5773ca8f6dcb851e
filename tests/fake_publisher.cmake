# The fake publisher (tests/fake_publisher/README.md) runs for the whole CTest run: a setup
# fixture starts it on this build's port before the first test that needs it, a cleanup
# fixture stops it after the last one. Every discovered GoogleTest case requires it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_fp_dir ${CMAKE_CURRENT_SOURCE_DIR}/fake_publisher)
add_test(NAME fake_publisher_start
         COMMAND ${Python3_EXECUTABLE} ${_fp_dir}/fixture.py start ${CMAKE_BINARY_DIR} ${LI_LOCAL_PORT}
                 --source ${CMAKE_SOURCE_DIR})
set_tests_properties(fake_publisher_start PROPERTIES FIXTURES_SETUP fake_publisher TIMEOUT 60
                     LABELS fake_publisher)
add_test(NAME fake_publisher_stop
         COMMAND ${Python3_EXECUTABLE} ${_fp_dir}/fixture.py stop ${CMAKE_BINARY_DIR} ${LI_LOCAL_PORT})
set_tests_properties(fake_publisher_stop PROPERTIES FIXTURES_CLEANUP fake_publisher TIMEOUT 60
                     LABELS fake_publisher)
# The publisher's own behaviour, checked from the host with Python's client.
add_test(NAME FakePublisherSelfTest
         COMMAND ${Python3_EXECUTABLE} ${_fp_dir}/selftest.py ${CMAKE_BINARY_DIR} ${LI_LOCAL_PORT})
set_tests_properties(FakePublisherSelfTest PROPERTIES FIXTURES_REQUIRED fake_publisher TIMEOUT 120
                     LABELS fake_publisher)
