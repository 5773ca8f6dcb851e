# The manifest goes in without the layout that keeps it readable here: the line breaks and
# indentation between and inside its elements are 300 of its bytes.
#
# Run as a script (cmake -P), this file does the compacting.
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ ${LI_IN} _text)
  string(STRIP "${_text}" _text)
  string(REGEX REPLACE ">[ \t\r\n]+<" "><" _text "${_text}")
  string(REGEX REPLACE "[ \t\r\n]+" " " _text "${_text}")
  file(WRITE ${LI_OUT} "${_text}")
  return()
endif()

set(_li_manifest_in ${CMAKE_CURRENT_SOURCE_DIR}/manifest.xml)
set(_li_manifest_out ${LI_RESOURCE_OUT}/manifest_compact.xml)
add_custom_command(
  OUTPUT ${_li_manifest_out}
  COMMAND ${CMAKE_COMMAND} -DLI_IN=${_li_manifest_in} -DLI_OUT=${_li_manifest_out}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${_li_manifest_in} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Compacting the manifest")
list(APPEND LI_RESOURCE_DEPENDS ${_li_manifest_out})
