# The interface tests load pictures, strings and templates the way the installer does, from
# their own module: link the installer's compiled resources into ui_tests.exe.
if(TARGET ui_tests)
  target_sources(ui_tests PRIVATE ${LI_RESOURCE_OBJECTS})
  add_dependencies(ui_tests li_resources)
endif()
