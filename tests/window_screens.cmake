# tests/programs/window_screens.exe shows the real dialogs, which take their templates,
# pictures and strings from the program's own module (tools/screenshots.sh runs it).
if(TARGET window_screens)
  target_sources(window_screens PRIVATE ${LI_RESOURCE_OBJECTS})
  add_dependencies(window_screens li_resources)
endif()
