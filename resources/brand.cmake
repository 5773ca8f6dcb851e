# The default brand package (resource 319): a cabinet whose one member, "brand_config", is the
# brand document. The member name is the file name inside the cabinet, so the document is
# staged under that name first; -n drops the folder from the stored name, -z compresses it.
find_program(LI_GCAB gcab REQUIRED)
set(LI_BRAND_STAGE ${LI_RESOURCE_OUT}/brand_default)
add_custom_command(
  OUTPUT ${LI_RESOURCE_OUT}/brand_default.cab
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LI_BRAND_STAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/brand/brand_config.json
          ${LI_BRAND_STAGE}/brand_config
  COMMAND ${CMAKE_COMMAND} -E rm -f ${LI_RESOURCE_OUT}/brand_default.cab
  COMMAND ${LI_GCAB} -c -n -z ${LI_RESOURCE_OUT}/brand_default.cab ${LI_BRAND_STAGE}/brand_config
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/brand/brand_config.json
  COMMENT "Packing the default brand package")
list(APPEND LI_RESOURCE_DEPENDS ${LI_RESOURCE_OUT}/brand_default.cab)
