# Every system DLL but the KnownDLLs is delay-loaded. Windows takes a KnownDLL (kernel32,
# user32, gdi32, advapi32, msvcrt) only from the system folder; any other name in the static
# import table is looked up in the program's own folder first, before a single instruction
# of the program has run, and the installer starts from a Downloads folder. A delay-loaded
# DLL is loaded on the first call of one of its functions, by the hook in
# platform/system_library.cc, from the system folder only; a missing or broken one then
# surfaces as a structured exception (0xC06D007E) inside the caller's guard rather than as
# a failed process start.
#
# MinGW ships the delay-load helper (__delayLoadHelper2 in libmingwex) but no delay-import
# libraries, so one per DLL is made here with dlltool. Two quirks of GNU ld shape them:
#  * the headers declare the functions dllimport, so calls go through the __imp_ slot only;
#    ld then drops the stub code of the import, and the slot, which must point at that stub
#    until the first call, ends up null. Every function therefore gets a -u for its stub.
#  * so that no slot is ever left null, only the functions listed below are in the
#    libraries, and the ordinary import libraries of these DLLs are not linked: calling
#    another function fails at link time ("undefined reference to _imp__<name>"). Add it
#    to the DLL's list then.
# Result: LI_DELAY_LIBRARIES and LI_DELAY_LINK_OPTIONS, used by li_system_libs, and
# build_config/wininet_imports.h, the WinINet functions that the program binds at its first
# load (network/open_url_guarded.cc).

set(LI_DELAY_LOADED_DLLS wininet comctl32 shell32 ole32 shlwapi version userenv uxtheme msimg32
                         wintrust crypt32 gdiplus)

set(LI_DELAY_wininet
  InternetOpenW InternetCloseHandle InternetSetStatusCallbackW InternetOpenUrlW
  InternetReadFile InternetSetOptionW InternetQueryOptionW HttpQueryInfoA
  InternetConnectW HttpOpenRequestW HttpSendRequestW InternetErrorDlg InternetCanonicalizeUrlW
  InternetCrackUrlW)
set(LI_DELAY_comctl32 InitCommonControlsEx SetWindowSubclass RemoveWindowSubclass DefSubclassProc)
set(LI_DELAY_shell32 CommandLineToArgvW IsUserAnAdmin SHGetFolderPathW ShellExecuteExW
                     ShellExecuteW)
set(LI_DELAY_ole32 CoCreateGuid CoCreateInstance CoInitialize CoInitializeEx CoUninitialize
                   CreateStreamOnHGlobal StringFromGUID2)
set(LI_DELAY_shlwapi UrlEscapeW)
set(LI_DELAY_version GetFileVersionInfoSizeW GetFileVersionInfoW VerQueryValueW)
set(LI_DELAY_userenv CreateEnvironmentBlock DestroyEnvironmentBlock)
set(LI_DELAY_uxtheme SetWindowTheme)
set(LI_DELAY_msimg32 AlphaBlend)
set(LI_DELAY_wintrust WinVerifyTrust WTHelperProvDataFromStateData WTHelperGetProvSignerFromChain
                      WTHelperGetProvCertFromChain)
set(LI_DELAY_crypt32 CryptDecodeObjectEx CryptImportPublicKeyInfo)
set(LI_DELAY_gdiplus
  GdiplusStartup GdiplusShutdown GdipAlloc GdipFree GdipCloneImage GdipCreateBitmapFromHBITMAP
  GdipCreateBitmapFromScan0 GdipCreateFromHDC GdipCreateImageAttributes GdipDeleteGraphics
  GdipDisposeImage GdipDisposeImageAttributes GdipDrawImageRectI GdipDrawImageRectRect
  GdipGetImageGraphicsContext GdipGetImageHeight GdipGetImageWidth GdipLoadImageFromStreamICM
  GdipSetCompositingMode GdipSetImageAttributesWrapMode GdipSetInterpolationMode
  GdipSetPixelOffsetMode)

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES ${CMAKE_C_COMPILER_TARGET}-dlltool i686-w64-mingw32-dlltool
               REQUIRED)
endif()
if(NOT CMAKE_NM)
  find_program(CMAKE_NM NAMES i686-w64-mingw32-nm REQUIRED)
endif()

# C symbols of 32-bit x86 carry a leading underscore; those of x64 do not.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LI_C_SYMBOL_PREFIX "_")
else()
  set(LI_C_SYMBOL_PREFIX "")
endif()

set(_li_delay_dir ${CMAKE_BINARY_DIR}/delayload)
file(MAKE_DIRECTORY ${_li_delay_dir})
set(LI_DELAY_LIBRARIES)
# The delay-load hook replaces the runtime library's empty one only if the linker takes it
# from the product library before it reaches libmingwex.
set(LI_DELAY_LINK_OPTIONS "LINKER:-u,${LI_C_SYMBOL_PREFIX}__pfnDliNotifyHook2")

foreach(_li_dll IN LISTS LI_DELAY_LOADED_DLLS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${_li_dll}.a
                  OUTPUT_VARIABLE _li_import OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${_li_import}")
    message(FATAL_ERROR "MinGW import library lib${_li_dll}.a not found")
  endif()
  execute_process(COMMAND ${CMAKE_NM} ${_li_import}
                  OUTPUT_VARIABLE _li_symbols RESULT_VARIABLE _li_nm_result)
  if(NOT _li_nm_result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${_li_import}")
  endif()

  # The stdcall decoration (@N on x86) of each function, from "I __imp_<symbol>" in the
  # import library.
  set(_li_def "LIBRARY \"${_li_dll}.dll\"\nEXPORTS\n")
  foreach(_li_function IN LISTS LI_DELAY_${_li_dll})
    string(REGEX MATCH "I __imp_${LI_C_SYMBOL_PREFIX}${_li_function}(@[0-9]+)?\n" _li_match
           "${_li_symbols}")
    if(NOT _li_match)
      message(FATAL_ERROR "${_li_function} is not in MinGW's lib${_li_dll}.a")
    endif()
    string(REGEX REPLACE "^I __imp_${LI_C_SYMBOL_PREFIX}" "" _li_decorated "${_li_match}")
    string(STRIP "${_li_decorated}" _li_decorated)
    string(APPEND _li_def "${_li_decorated}\n")
    list(APPEND LI_DELAY_LINK_OPTIONS "LINKER:-u,${LI_C_SYMBOL_PREFIX}${_li_decorated}")
  endforeach()

  set(_li_library ${_li_delay_dir}/lib${_li_dll}_delay.a)
  set(_li_def_file ${_li_delay_dir}/${_li_dll}.def)
  set(_li_old_def "")
  if(EXISTS ${_li_def_file})
    file(READ ${_li_def_file} _li_old_def)
  endif()
  if(NOT EXISTS ${_li_library} OR NOT _li_old_def STREQUAL _li_def)
    file(WRITE ${_li_def_file} "${_li_def}")
    # Relative names keep build paths out of the library's symbol names.
    execute_process(COMMAND ${CMAKE_DLLTOOL} -k --dllname ${_li_dll}.dll --def ${_li_dll}.def
                            --output-delaylib lib${_li_dll}_delay.a
                    WORKING_DIRECTORY ${_li_delay_dir} RESULT_VARIABLE _li_dlltool_result)
    if(NOT _li_dlltool_result EQUAL 0)
      message(FATAL_ERROR "dlltool could not make the delay-import library of ${_li_dll}.dll")
    endif()
  endif()
  list(APPEND LI_DELAY_LIBRARIES ${_li_library})
endforeach()

set(_li_imports_header "// Generated by cmake/delay_load.cmake: the WinINet functions the program imports.\n")
string(APPEND _li_imports_header "#pragma once\nnamespace build_config {\ninline constexpr const char* kWinInetImports[] = {\n")
foreach(_li_function IN LISTS LI_DELAY_wininet)
  string(APPEND _li_imports_header "    \"${_li_function}\",\n")
endforeach()
string(APPEND _li_imports_header "};\n}  // namespace build_config\n")
file(CONFIGURE OUTPUT ${LI_GENERATED_DIR}/build_config/wininet_imports.h CONTENT "${_li_imports_header}")
