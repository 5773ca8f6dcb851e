#include "install/setup_command_line.h"

#include <iterator>

#include "platform/clock.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace installer {
namespace {

void PutNumber(CommandLine* command_line, const char* name, long long value) {
  command_line->Put(name, platform::ToString(value));
}

// Each is written only when not empty.
struct PathSwitch {
  const char* name;
  std::wstring_view SetupCommandLineInputs::*path;
};
constexpr PathSwitch kFileSwitches[] = {
    {switches::kInstallerData, &SetupCommandLineInputs::installer_data_path},
    {switches::kClidsFile, &SetupCommandLineInputs::clids_path},
    {switches::kClidsSearchbandFile, &SetupCommandLineInputs::clids_searchband_path},
    {switches::kBrandPackage, &SetupCommandLineInputs::brand_package_path},
    {switches::kPartnerPackage, &SetupCommandLineInputs::partner_package_path},
    {switches::kOverridePartnerPackage, &SetupCommandLineInputs::partner_package_override_path},
};
constexpr PathSwitch kFetchedFileSwitches[] = {
    {switches::kVariationsUpdatePath, &SetupCommandLineInputs::variations_path},
    {switches::kServerConfigBundlePath, &SetupCommandLineInputs::server_config_bundle_path},
};

void PutPaths(const PathSwitch* begin, const PathSwitch* end, const SetupCommandLineInputs& in,
              CommandLine* command_line) {
  for (const PathSwitch* entry = begin; entry != end; ++entry) {
    if (!(in.*entry->path).empty()) command_line->Put(entry->name, in.*entry->path);
  }
}

}  // namespace

int64_t ElevationPromptShift(int64_t prompt_start, int64_t prompt_end, int64_t ok_button_monotonic) {
  // Only the part of the prompt that lies after the button press delays the installation
  // the user asked for; a prompt shown before the press (at window start) costs nothing.
  if (ok_button_monotonic == 0 || ok_button_monotonic >= prompt_end) return 0;
  if (prompt_start >= ok_button_monotonic) return prompt_end - prompt_start;
  return prompt_end - ok_button_monotonic;
}

CommandLine BuildSetupCommandLine(const CommandLine& base, const SetupCommandLineInputs& in) {
  namespace sw = switches;
  CommandLine command_line(base);
  command_line.SetProgramPath(in.setup_path);

  command_line.PutFlag(sw::kDisableUac, in.disable_uac);
  PutNumber(&command_line, sw::kProgressWindow, static_cast<long long>(in.progress_window));
  command_line.Put(sw::kVerboseLogging);
  command_line.Put(sw::kBrandName, in.brand_name);
  if (!in.distr_info_file.empty()) command_line.Put(sw::kDistrInfoFile, in.distr_info_file);
  command_line.PutFlag(sw::kMakeBrowserDefaultAfterImport, in.make_default);
  command_line.PutFlag(sw::kSendStatistics, in.send_statistics);

  int64_t download_seconds = platform::DurationToSeconds(in.download_time_us);
  if (download_seconds != 0) PutNumber(&command_line, sw::kHistogramDownloadTime, download_seconds);
  if (in.ok_button_time != 0) {
    PutNumber(&command_line, sw::kOkButtonPressedTime, in.ok_button_time);
    if (in.prompt_end != 0) {
      int64_t shift = ElevationPromptShift(in.prompt_start, in.prompt_end, in.ok_button_monotonic);
      PutNumber(&command_line, sw::kInstallStartTimeNoUac, in.ok_button_time + shift);
    }
  }
  if (in.interface_availability != 0) {
    PutNumber(&command_line, sw::kTheInterfaceAvailability, in.interface_availability);
  }

  // A file that could not be written has no path: its switch is left out.
  if (in.with_files)
    PutPaths(std::begin(kFileSwitches), std::end(kFileSwitches), in, &command_line);
  if (in.show_uac_at_browser_start) command_line.Put(sw::kShowUacAtBrowserStart);
  PutPaths(std::begin(kFetchedFileSwitches), std::end(kFetchedFileSwitches), in, &command_line);
  return command_line;
}

}  // namespace installer
