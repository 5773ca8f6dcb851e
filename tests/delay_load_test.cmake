# A delay-import library for a DLL that exists nowhere, linked into platform_tests (the guard's test): calling
# one of its functions makes MinGW's delay-load helper raise a real 0xC06D007E with its
# DelayLoadInfo, once for an import by name and once for an import by ordinal.
if(TARGET platform_tests)
  set(_dlt_dir ${CMAKE_BINARY_DIR}/delayload_test)
  file(MAKE_DIRECTORY ${_dlt_dir})
  # __stdcall names carry their argument size on x86 only.
  set(_dlt_size "")
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(_dlt_size "@0")
  endif()
  file(WRITE ${_dlt_dir}/missing.def
       "LIBRARY \"li_missing_for_tests.dll\"\nEXPORTS\nLiMissingByName${_dlt_size}\nLiMissingByOrdinal${_dlt_size} @7 NONAME\n")
  execute_process(COMMAND ${CMAKE_DLLTOOL} -k --dllname li_missing_for_tests.dll --def missing.def
                          --output-delaylib libmissing_delay.a
                  WORKING_DIRECTORY ${_dlt_dir} RESULT_VARIABLE _dlt_result)
  if(NOT _dlt_result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make the test delay-import library")
  endif()
  target_link_libraries(platform_tests PRIVATE ${_dlt_dir}/libmissing_delay.a)
endif()

# The shipped executable must not name wininet.dll in its import table (Windows would load it
# at start), yet carry it as a delay-loaded library.
if(NOT CMAKE_OBJDUMP)
  find_program(CMAKE_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
endif()
add_test(NAME WinInetIsDelayLoaded
         COMMAND bash -c "! '${CMAKE_OBJDUMP}' -p \"$1\" | grep -qi 'DLL Name: wininet' && grep -qa 'wininet.dll' \"$1\""
                 check $<TARGET_FILE:lite_installer>)
set_tests_properties(WinInetIsDelayLoaded PROPERTIES LABELS network)
