#include "install/setup_command_line.h"

#include "platform/clock.h"
#include "platform/strings.h"
#include "platform/switches.h"

namespace installer {

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
  command_line.Put(sw::kProgressWindow, platform::ToString(static_cast<unsigned long long>(in.progress_window)));
  command_line.Put(sw::kVerboseLogging);
  command_line.Put(sw::kBrandName, in.brand_name);
  if (!in.distr_info_file.empty()) command_line.Put(sw::kDistrInfoFile, in.distr_info_file);
  command_line.PutFlag(sw::kMakeBrowserDefaultAfterImport, in.make_default);
  command_line.PutFlag(sw::kSendStatistics, in.send_statistics);

  int64_t download_seconds = platform::DurationToSeconds(in.download_time_us);
  if (download_seconds != 0) {
    command_line.Put(sw::kHistogramDownloadTime, platform::ToString(download_seconds));
  }
  if (in.ok_button_time != 0) {
    command_line.Put(sw::kOkButtonPressedTime, platform::ToString(in.ok_button_time));
  }
  if (in.ok_button_time != 0 && in.prompt_end != 0) {
    int64_t shift = ElevationPromptShift(in.prompt_start, in.prompt_end, in.ok_button_monotonic);
    command_line.Put(sw::kInstallStartTimeNoUac, platform::ToString(in.ok_button_time + shift));
  }
  if (in.interface_availability != 0) {
    command_line.Put(sw::kTheInterfaceAvailability, platform::ToString(in.interface_availability));
  }

  if (in.with_files) {
    // A file that could not be written has no path: its switch is left out.
    if (!in.installer_data_path.empty()) command_line.Put(sw::kInstallerData, in.installer_data_path);
    if (!in.clids_path.empty()) command_line.Put(sw::kClidsFile, in.clids_path);
    if (!in.clids_searchband_path.empty()) {
      command_line.Put(sw::kClidsSearchbandFile, in.clids_searchband_path);
    }
    if (!in.brand_package_path.empty()) command_line.Put(sw::kBrandPackage, in.brand_package_path);
    if (!in.partner_package_path.empty()) {
      command_line.Put(sw::kPartnerPackage, in.partner_package_path);
    }
    if (!in.partner_package_override_path.empty()) {
      command_line.Put(sw::kOverridePartnerPackage, in.partner_package_override_path);
    }
  }

  if (in.show_uac_at_browser_start) command_line.Put(sw::kShowUacAtBrowserStart);
  if (!in.variations_path.empty()) command_line.Put(sw::kVariationsUpdatePath, in.variations_path);
  if (!in.server_config_bundle_path.empty()) {
    command_line.Put(sw::kServerConfigBundlePath, in.server_config_bundle_path);
  }
  return command_line;
}

}  // namespace installer
