# WinINet is delay-loaded: the program starts without it, and the first HTTP call loads it.
# A broken or missing wininet.dll, or a module injected into it that fails its own imports,
# then surfaces as a structured exception (0xC06D007E) inside the download client's guard
# rather than as a failed process start.
#
# MinGW ships the delay-load helper (__delayLoadHelper2 in libmingwex) but no delay-import
# libraries, so one is made here with dlltool. Two quirks of GNU ld shape it:
#  * the headers declare WinINet functions dllimport, so calls go through the __imp_ slot
#    only; ld then drops the stub code of the import, and the slot, which must point at that
#    stub until the first call, ends up null. Every function therefore gets a -u for its stub.
#  * so that no slot is ever left null, only the functions listed below are in the library:
#    calling another WinINet function fails at link time ("undefined reference to
#    _imp__<name>"). Add it to LI_WININET_FUNCTIONS then.
# Result: LI_WININET_LIBRARY and LI_WININET_LINK_OPTIONS, used by li_system_libs.

set(LI_WININET_FUNCTIONS
  InternetOpenW InternetCloseHandle InternetSetStatusCallbackW InternetOpenUrlW
  InternetReadFile InternetSetFilePointer InternetSetOptionW InternetQueryOptionW
  HttpQueryInfoA HttpQueryInfoW InternetConnectW HttpOpenRequestW HttpSendRequestW
  InternetCanonicalizeUrlW InternetCrackUrlW InternetCreateUrlW)

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES i686-w64-mingw32-dlltool REQUIRED)
endif()
if(NOT CMAKE_NM)
  find_program(CMAKE_NM NAMES i686-w64-mingw32-nm REQUIRED)
endif()

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwininet.a
                OUTPUT_VARIABLE _li_wininet_import OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT EXISTS "${_li_wininet_import}")
  message(FATAL_ERROR "MinGW import library libwininet.a not found")
endif()
execute_process(COMMAND ${CMAKE_NM} ${_li_wininet_import}
                OUTPUT_VARIABLE _li_symbols RESULT_VARIABLE _li_nm_result)
if(NOT _li_nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${_li_wininet_import}")
endif()

# The stdcall decoration (@N) of each function, from "I __imp__<name>@N" in the import library.
set(_li_def "LIBRARY \"wininet.dll\"\nEXPORTS\n")
set(LI_WININET_LINK_OPTIONS)
foreach(_li_function IN LISTS LI_WININET_FUNCTIONS)
  string(REGEX MATCH "I __imp__${_li_function}@[0-9]+" _li_match "${_li_symbols}")
  if(NOT _li_match)
    message(FATAL_ERROR "${_li_function} is not in MinGW's libwininet.a")
  endif()
  string(REGEX REPLACE "^I __imp__" "" _li_decorated "${_li_match}")
  string(APPEND _li_def "${_li_decorated}\n")
  list(APPEND LI_WININET_LINK_OPTIONS "LINKER:-u,_${_li_decorated}")
endforeach()

set(_li_delay_dir ${CMAKE_BINARY_DIR}/delayload)
set(LI_WININET_LIBRARY ${_li_delay_dir}/libwininet_delay.a)
file(MAKE_DIRECTORY ${_li_delay_dir})
set(_li_def_file ${_li_delay_dir}/wininet.def)
set(_li_old_def "")
if(EXISTS ${_li_def_file})
  file(READ ${_li_def_file} _li_old_def)
endif()
if(NOT EXISTS ${LI_WININET_LIBRARY} OR NOT _li_old_def STREQUAL _li_def)
  file(WRITE ${_li_def_file} "${_li_def}")
  # Relative names keep build paths out of the library's symbol names.
  execute_process(COMMAND ${CMAKE_DLLTOOL} -k --dllname wininet.dll --def wininet.def
                          --output-delaylib libwininet_delay.a
                  WORKING_DIRECTORY ${_li_delay_dir} RESULT_VARIABLE _li_dlltool_result)
  if(NOT _li_dlltool_result EQUAL 0)
    message(FATAL_ERROR "dlltool could not make the WinINet delay-import library")
  endif()
endif()
