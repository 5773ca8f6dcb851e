# Checks one brand or partner package as the installer will read it: a readable cabinet with
# exactly its one member ("brand_config" or "partner_config"), whose document
# make-brand-package accepts (a key given twice only warns: the installer takes its last value).
# A package it refuses fails with the package's name.
#
# Included, it defines li_check_package(); the configuration calls it for an early answer.
# As a script it is the build step that checks the bytes the build puts in, whenever they
# change after the configuration:
#   cmake -DCABINET=<file> -DKIND=brand|partner -DWORK=<folder> -DGCAB=<gcab>
#         -DPYTHON=<python> -DTOOL=<make-brand-package> -DSTAMP=<file> -P check_package.cmake
# (STAMP is written once the package passed.)

function(li_check_package cabinet kind work gcab python tool)
  get_filename_component(_name ${cabinet} NAME)
  set(_member brand_config)
  if(kind STREQUAL "partner")
    set(_member partner_config)
  endif()
  set(_out ${work}/${_name})
  file(REMOVE_RECURSE ${_out})
  file(MAKE_DIRECTORY ${_out})
  execute_process(COMMAND ${gcab} -x -C ${_out} ${cabinet}
                  RESULT_VARIABLE _result ERROR_VARIABLE _error OUTPUT_QUIET)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Package ${_name} is not a readable cabinet: ${_error}")
  endif()
  file(GLOB _members RELATIVE ${_out} ${_out}/*)
  if(NOT _members STREQUAL _member)
    message(FATAL_ERROR "Package ${_name} must hold exactly the member \"${_member}\", "
                        "not: ${_members}")
  endif()
  execute_process(COMMAND ${python} ${tool} --check --allow-duplicate-keys -k ${kind}
                          ${_out}/${_member}
                  RESULT_VARIABLE _result ERROR_VARIABLE _error)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Package ${_name} is refused by make-brand-package:\n${_error}")
  elseif(_error)
    message(WARNING "Package ${_name}:\n${_error}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  li_check_package(${CABINET} ${KIND} ${WORK} ${GCAB} ${PYTHON} ${TOOL})
  file(WRITE ${STAMP} "")
endif()
