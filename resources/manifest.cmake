# The manifests go in without the layout that keeps them readable here: the line breaks and
# indentation between and inside the elements are 300 of the main one's bytes.
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

foreach(_li_manifest manifest gdiplus_manifest)
  set(_li_manifest_in ${CMAKE_CURRENT_SOURCE_DIR}/${_li_manifest}.xml)
  set(_li_manifest_out ${LI_RESOURCE_OUT}/${_li_manifest}_compact.xml)
  add_custom_command(
    OUTPUT ${_li_manifest_out}
    COMMAND ${CMAKE_COMMAND} -DLI_IN=${_li_manifest_in} -DLI_OUT=${_li_manifest_out}
            -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${_li_manifest_in} ${CMAKE_CURRENT_LIST_FILE}
    COMMENT "Compacting ${_li_manifest}.xml")
  list(APPEND LI_RESOURCE_DEPENDS ${_li_manifest_out})
endforeach()
