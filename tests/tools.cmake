# Host-side tests of the distributor's tools (tools/stamp-tag, tools/make-brand-package,
# tools/inspect): Python unittest files under tests/tools/. The signed-installer and the
# document-reader tests also run the installer's own readers under Wine, so they need the built
# programs (and the PKI).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_tools_env
    "LI_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "LI_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "LI_PKI_DIR=${LI_PKI_DIR}" "LI_WINE_RUN=${LI_WINE_RUN}" "PYTHONDONTWRITEBYTECODE=1")
foreach(pair StampTag:test_stamp_tag MakeBrandPackage:test_make_brand_package
             Inspect:test_inspect SignedInstallerTag:test_signed_installer
             RehearsalServer:test_rehearsal_server DocumentReader:test_document_reader)
  string(REPLACE ":" ";" parts ${pair})
  list(GET parts 0 name)
  list(GET parts 1 module)
  add_test(NAME Tools.${name}
           COMMAND ${Python3_EXECUTABLE} -m unittest -v ${module}
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/tools)
  set_tests_properties(Tools.${name} PROPERTIES ENVIRONMENT "${_tools_env}" TIMEOUT 300
                       LABELS tools)
endforeach()

# make release over the release-profile build of the image checks, with the test PKI's
# signing certificate standing in for the publisher's.
add_test(NAME Tools.Release COMMAND ${Python3_EXECUTABLE} -m unittest -v test_release.ReleaseTest
         WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/tools)
set_tests_properties(Tools.Release PROPERTIES
                     ENVIRONMENT "${_tools_env};LI_RELEASE_DIR=${LI_RELEASE_PROFILE_DIR};LI_TEST_KEYS=${LI_TEST_KEYS_FILE}"
                     FIXTURES_REQUIRED release_profile_image TIMEOUT 1200 LABELS tools)
# What a folder of packages builds in: configured in a folder of its own, not built.
add_test(NAME Tools.ReleasePackages
         COMMAND ${Python3_EXECUTABLE} -m unittest -v test_release.PackagesFolderTest
         WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/tools)
set_tests_properties(Tools.ReleasePackages PROPERTIES
                     ENVIRONMENT "${_tools_env};LI_TEST_KEYS=${LI_TEST_KEYS_FILE}"
                     TIMEOUT 600 LABELS tools)
