# A delay-import library for a DLL that exists nowhere, linked into download_tests: calling
# one of its functions makes MinGW's delay-load helper raise a real 0xC06D007E with its
# DelayLoadInfo, once for an import by name and once for an import by ordinal.
if(TARGET download_tests)
  set(_dlt_dir ${CMAKE_BINARY_DIR}/delayload_test)
  file(MAKE_DIRECTORY ${_dlt_dir})
  file(WRITE ${_dlt_dir}/missing.def
       "LIBRARY \"li_missing_for_tests.dll\"\nEXPORTS\nLiMissingByName@0\nLiMissingByOrdinal@0 @7 NONAME\n")
  execute_process(COMMAND ${CMAKE_DLLTOOL} -k --dllname li_missing_for_tests.dll --def missing.def
                          --output-delaylib libmissing_delay.a
                  WORKING_DIRECTORY ${_dlt_dir} RESULT_VARIABLE _dlt_result)
  if(NOT _dlt_result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make the test delay-import library")
  endif()
  target_link_libraries(download_tests PRIVATE ${_dlt_dir}/libmissing_delay.a)
endif()
