# The vendor documents are compiled into the resources unchanged; rebuild when they change.
file(GLOB LI_VENDOR_DOCUMENTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/vendor/*)
list(APPEND LI_RESOURCE_DEPENDS ${LI_VENDOR_DOCUMENTS})
