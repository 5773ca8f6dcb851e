# Distribution profile: the host of every server the installer talks to, chosen at configure
# time. "release" carries the publisher's hosts; "local" points every endpoint at the fake
# publisher that the tests and the demo run on https://localhost:${LI_LOCAL_PORT}.
set(LI_PROFILE "local" CACHE STRING "Distribution profile: local or release")
set_property(CACHE LI_PROFILE PROPERTY STRINGS local release)
set(LI_LOCAL_PORT 47443 CACHE STRING "Port of the local fake publisher")

if(LI_PROFILE STREQUAL "local")
  set(_h "localhost:${LI_LOCAL_PORT}")
  set(_defaults
    DOWNLOAD ${_h} DOWNLOAD_CDN ${_h} BROWSER_API ${_h} STATUS ${_h} EXTENDED_STATS ${_h}
    CLICK_COUNTER ${_h} LEGAL ${_h} SITE_RU ${_h} SITE_BY ${_h} SITE_INT ${_h}
    SITE_TR ${_h} SITE_UA ${_h})
elseif(LI_PROFILE STREQUAL "release")
  set(_defaults
    DOWNLOAD download.zorvin.example DOWNLOAD_CDN cdn.download.zorvin.example
    BROWSER_API api.browser.zorvin.example STATUS status.zorvin.example
    EXTENDED_STATS stats.zorvin.example CLICK_COUNTER clicks.zorvin.example
    LEGAL legal.zorvin.example SITE_RU browser.zorvin.example SITE_BY browser.zorvin.example.by
    SITE_INT browser.zorvin.example.com SITE_TR browser.zorvin.example.com.tr
    SITE_UA browser.zorvin.example.ua)
else()
  message(FATAL_ERROR "LI_PROFILE must be local or release")
endif()

# One cache variable per server; a distributor may override any of them.
while(_defaults)
  list(POP_FRONT _defaults _name _value)
  if(NOT DEFINED LI_HOST_${_name} OR NOT LI_PROFILE STREQUAL "${LI_HOST_PROFILE_SEEN}")
    set(LI_HOST_${_name} ${_value} CACHE STRING "Host of the ${_name} server" FORCE)
  endif()
endwhile()
set(LI_HOST_PROFILE_SEEN ${LI_PROFILE} CACHE INTERNAL "")

set(LI_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/cmake/endpoints.h.in ${LI_GENERATED_DIR}/build_config/endpoints.h @ONLY)

# The ten public keys that may sign an archive's trusted certificate list. The local profile
# takes them from the test PKI made for this build folder; the release profile from a file
# of ten lines of Base64 (DER SubjectPublicKeyInfo of 1024-bit RSA keys). A release build
# without it would trust no archive at all: that takes the explicit value NONE (size checks).
set(LI_TRUSTED_KEYS_FILE "" CACHE STRING
    "Release profile: file with the ten Base64 public keys, or NONE for a build that trusts none")
set(LI_PKI_DIR ${CMAKE_BINARY_DIR}/pki)
if(LI_PROFILE STREQUAL "local")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${CMAKE_SOURCE_DIR}/tests/pki/make_pki.sh)
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/tests/pki/make_pki.sh ${LI_PKI_DIR} ${LI_LOCAL_PORT}
                  RESULT_VARIABLE _pki_result)
  if(NOT _pki_result EQUAL 0)
    message(FATAL_ERROR "Generating the test PKI failed")
  endif()
  set(_keys)
  foreach(n RANGE 9)
    file(READ ${LI_PKI_DIR}/keys/key${n}.spki.b64 _key)
    string(STRIP "${_key}" _key)
    list(APPEND _keys "${_key}")
  endforeach()
else()
  if(LI_TRUSTED_KEYS_FILE STREQUAL "NONE")
    message(STATUS "LI_TRUSTED_KEYS_FILE is NONE: this release build trusts no archive")
    set(_keys "" "" "" "" "" "" "" "" "" "")
  elseif(LI_TRUSTED_KEYS_FILE AND EXISTS ${LI_TRUSTED_KEYS_FILE})
    file(STRINGS ${LI_TRUSTED_KEYS_FILE} _keys)
  else()
    message(FATAL_ERROR "The release profile needs the publisher's keys: "
                        "-DLI_TRUSTED_KEYS_FILE=<file of ten Base64 public keys> "
                        "(or NONE for a build that trusts no archive)")
  endif()
endif()
list(LENGTH _keys _key_count)
if(NOT _key_count EQUAL 10)
  message(FATAL_ERROR "Exactly ten trusted public keys are needed, got ${_key_count}")
endif()
set(LI_TRUSTED_KEYS_INIT "")
foreach(_key IN LISTS _keys)
  string(APPEND LI_TRUSTED_KEYS_INIT "    \"${_key}\",\n")
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/cmake/trusted_keys.h.in
               ${LI_GENERATED_DIR}/build_config/trusted_keys.h @ONLY)
