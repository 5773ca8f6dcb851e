# Cabinets for the brand tests, packed with gcab at build time into
# ${CMAKE_BINARY_DIR}/test_data/cabinets. The member files are written at configure time
# (only rewritten when their text changes); a member's name in the cabinet is its file name.
find_program(LI_GCAB gcab REQUIRED)
set(LI_CAB_DIR ${CMAKE_BINARY_DIR}/test_data/cabinets)
set(LI_CAB_SRC ${LI_CAB_DIR}/members)

function(li_cab_member folder name content)
  file(CONFIGURE OUTPUT ${LI_CAB_SRC}/${folder}/${name} CONTENT "${content}" @ONLY)
endfunction()

# li_cabinet(<cabinet> <gcab options> <member files relative to LI_CAB_SRC>...)
set(LI_TEST_CABINETS)
function(li_cabinet cabinet options)
  set(inputs)
  foreach(member IN LISTS ARGN)
    list(APPEND inputs ${LI_CAB_SRC}/${member})
  endforeach()
  separate_arguments(option_list UNIX_COMMAND "${options}")
  add_custom_command(
    OUTPUT ${LI_CAB_DIR}/${cabinet}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${LI_CAB_DIR}/${cabinet}
    COMMAND ${LI_GCAB} -c -n ${option_list} ${LI_CAB_DIR}/${cabinet} ${inputs}
    DEPENDS ${inputs}
    COMMENT "Packing test cabinet ${cabinet}")
  set(LI_TEST_CABINETS ${LI_TEST_CABINETS} ${LI_CAB_DIR}/${cabinet} PARENT_SCOPE)
endfunction()

li_cab_member(one brand_config "{\"brand_id\": \"one\", \"brand_name\": \"One\"}\n")
li_cab_member(several partner_config "{\"partner_id\": \"p-17\", \"brand_id\": \"partner\"}\n")
li_cab_member(several brand_config "{\"brand_id\": \"several\", \"languages\": {\"interface\": \"de\"}}\n")
li_cab_member(several notes.txt "Packed together with the configuration documents.\n")
# Two members whose names differ in the last letter only: the test renames the second one
# in the cabinet's file table to make a cabinet that holds "brand_config" twice.
li_cab_member(twins brand_config "{\"brand_id\": \"first\"}\n")
li_cab_member(twins brand_confih "{\"brand_id\": \"second\"}\n")
li_cab_member(wrong brand_config.json "{\"brand_id\": \"wrong\"}\n")
li_cab_member(wrong Brand_Config "{\"brand_id\": \"wrong case\"}\n")
# Large enough for several 32 KiB data blocks, so block boundaries are crossed.
string(REPEAT "0123456789abcdef" 12000 LI_CAB_FILLER)
li_cab_member(large brand_config "{\"brand_id\": \"large\", \"filler\": \"${LI_CAB_FILLER}\"}\n")

li_cabinet(one.cab "" one/brand_config)
li_cabinet(one_z.cab "-z" one/brand_config)
li_cabinet(several_z.cab "-z" several/partner_config several/brand_config several/notes.txt)
li_cabinet(twins.cab "" twins/brand_config twins/brand_confih)
li_cabinet(twins_z.cab "-z" twins/brand_config twins/brand_confih)
li_cabinet(wrong_member_z.cab "-z" wrong/brand_config.json wrong/Brand_Config)
li_cabinet(large.cab "" large/brand_config)
li_cabinet(large_z.cab "-z" large/brand_config)

add_custom_target(brand_test_cabinets DEPENDS ${LI_TEST_CABINETS})
if(TARGET brand_tests)
  add_dependencies(brand_tests brand_test_cabinets)
endif()
