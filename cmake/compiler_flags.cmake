# Flags for a small, self-contained 32-bit executable: size optimisation, unused sections
# dropped at link time, static C and C++ runtime, stripped release output.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0601 WINVER=0x0601 STRICT)
add_compile_options(-ffunction-sections -fdata-sections -Wall -Wextra -Wno-unused-parameter
                    -Wno-missing-field-initializers -Wno-cast-function-type)
# -Oz (GCC 12 and later) picks shorter instruction encodings than -Os where they cost a few
# cycles; nothing here is bound by instruction speed (1.5 KB smaller). Inlining is left to
# the whole-program pass: early inlining and the inlining of every function called once
# blow up the large window and installer functions (measured: 7.5 KB smaller without both).
# Switches compile to compare chains rather than tables of addresses: a table's entries cost
# 4 bytes of data and a relocation each, more than the compares (1 KB smaller); no switch
# here is on a path where the difference could be measured.
set(_li_size_flags
    "-Oz -fno-early-inlining -fno-inline-functions-called-once -fno-jump-tables -DNDEBUG")
set(CMAKE_CXX_FLAGS_MINSIZEREL ${_li_size_flags})
set(CMAKE_C_FLAGS_MINSIZEREL ${_li_size_flags})
# Terminal-server aware: otherwise a Remote Desktop host gives the program a per-user
# Windows folder, which the user controls.
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections
                 -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  add_link_options(-Wl,--large-address-aware)
  # The 32-bit Windows ABI promises 4-byte stack alignment; keeping 16 bytes costs an
  # adjustment in many functions (1 KB) and buys nothing without SSE code. A variable that
  # needs more still gets it: GCC realigns that function's frame.
  add_compile_options(-mpreferred-stack-boundary=2)
endif()
if(CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
  add_link_options(-s)
endif()

# System libraries. Only the KnownDLLs are imported at start; every other DLL is delay-loaded
# from the system folder (cmake/delay_load.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/delay_load.cmake)
add_library(li_system_libs INTERFACE)
target_link_libraries(li_system_libs INTERFACE ${LI_DELAY_LIBRARIES} advapi32 user32 gdi32 uuid)
target_link_options(li_system_libs INTERFACE ${LI_DELAY_LINK_OPTIONS})
