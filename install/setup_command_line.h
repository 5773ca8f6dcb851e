// The command line of the browser setup program.
//
// It starts as a copy of the installer's own command line (so every switch the installer was
// given reaches the setup program too), with the program set to the setup archive, and then
// receives the switches that describe this run. Everything the builder needs is passed in
// `SetupCommandLineInputs`, so the rules are a pure function of their inputs.
#ifndef INSTALL_SETUP_COMMAND_LINE_H_
#define INSTALL_SETUP_COMMAND_LINE_H_

#include <cstdint>
#include <string_view>

#include "platform/command_line.h"

namespace installer {

// The texts are views: what they view must outlive the `BuildSetupCommandLine` call.
struct SetupCommandLineInputs {
  std::wstring_view setup_path;
  // Files handed over by path: the vendor files and the packages.
  bool with_files = false;

  bool disable_uac = false;          // the user declined the elevation prompt
  uintptr_t progress_window = 0;     // window that receives progress messages, 0 without one
  std::string_view brand_name;        // the resolved brand name
  std::wstring_view distr_info_file;  // "distrib_info", empty without parameters
  bool make_default = false;
  bool send_statistics = false;
  int64_t download_time_us = 0;      // written in whole seconds when not 0

  // Install-button time T (wall clock, microseconds), the elevation prompt's start S and end E
  // and the button's monotonic time P (monotonic clock, microseconds); 0 = not set.
  int64_t ok_button_time = 0;
  int64_t prompt_start = 0;
  int64_t prompt_end = 0;
  int64_t ok_button_monotonic = 0;

  uint32_t interface_availability = 0;  // written when not 0

  std::wstring_view installer_data_path;
  std::wstring_view clids_path;
  std::wstring_view clids_searchband_path;  // written only when not empty
  std::wstring_view brand_package_path;     // empty when no brand package was loaded
  std::wstring_view partner_package_path;   // empty when no partner package was loaded
  std::wstring_view partner_package_override_path;

  bool show_uac_at_browser_start = false;  // the UAC mode is 2
  std::wstring_view variations_path;            // written when not empty
  std::wstring_view server_config_bundle_path;  // written when not empty
};

// The time spent in the elevation prompt after the install button was pressed, which
// "install-start-time-no-uac" adds to the button time.
int64_t ElevationPromptShift(int64_t prompt_start, int64_t prompt_end, int64_t ok_button_monotonic);

// Applies the run's switches to a copy of `base`, in the fixed order of edits.
CommandLine BuildSetupCommandLine(const CommandLine& base, const SetupCommandLineInputs& inputs);

}  // namespace installer

#endif  // INSTALL_SETUP_COMMAND_LINE_H_
