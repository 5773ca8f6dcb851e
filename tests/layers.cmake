# The product folders' includes run from a higher layer to a lower one only.
add_test(NAME Layers.IncludesRunDown COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check_layers.sh)
set_tests_properties(Layers.IncludesRunDown PROPERTIES LABELS tools)
