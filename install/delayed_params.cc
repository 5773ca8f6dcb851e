#include "install/delayed_params.h"

#include <windows.h>

#include "platform/command_line.h"
#include "platform/logging.h"
#include "platform/switches.h"

namespace installer {

namespace {

// The path fields in block order, with the name each has in the log and the switch it
// becomes on the setup's command line (none for the archive: it is the program path).
struct PathField {
  std::wstring DelayedParams::*param;
  wchar_t (DelayedParamBlock::*unit)[kDelayedPathUnits];
  const char* log_name;
  const char* switch_name;
};
constexpr PathField kPathFields[] = {
    {&DelayedParams::browser_arc_path, &DelayedParamBlock::browser_arc_path,
     " browser_arc_path=", nullptr},
    {&DelayedParams::clids_file_path, &DelayedParamBlock::clids_file_path,
     " clids_file_path=", switches::kClidsFile},
    {&DelayedParams::clids_searchband_file_path, &DelayedParamBlock::clids_searchband_file_path,
     " clids_searchband_file_path=", switches::kClidsSearchbandFile},
    {&DelayedParams::installer_data_path, &DelayedParamBlock::installer_data_path,
     " installer_data_path=", switches::kInstallerData},
    {&DelayedParams::brand_package_path, &DelayedParamBlock::brand_package_path,
     " brand_package_path=", switches::kBrandPackage},
    {&DelayedParams::partner_package_path, &DelayedParamBlock::partner_package_path,
     " partner_package_path=", switches::kPartnerPackage},
    {&DelayedParams::partner_package_override_path,
     &DelayedParamBlock::partner_package_override_path,
     " partner_package_override_path=", switches::kOverridePartnerPackage},
};

}  // namespace

bool WriteDelayedParamsTo(const DelayedParams& params, DelayedParamBlock* block) {
  bool fits = true;
  for (const PathField& field : kPathFields) {
    if ((params.*field.param).size() >= kDelayedPathUnits) fits = false;
  }
  if (!fits) {
    logging::LogLine line(logging::kERROR, "WriteDelayedParams", __LINE__);
    line << "Too large string length,";
    for (const PathField& field : kPathFields) line << field.log_name << params.*field.param;
    line << " send_statistics=" << params.send_statistics
         << " make_default=" << params.make_default;
    return false;
  }
  for (const PathField& field : kPathFields) {
    // The whole field is the limit: a 260-unit path keeps its last character (a limit of
    // 260 would silently cut it to 259 and hand the child another path).
    lstrcpynW(block->*field.unit, (params.*field.param).c_str(),
              static_cast<int>(kDelayedPathUnits));
  }
  block->send_statistics = params.send_statistics ? 1 : 0;
  block->make_default = params.make_default ? 1 : 0;
  return true;
}

DelayedParams ReadDelayedParamsFrom(const DelayedParamBlock& block) {
  DelayedParams params;
  for (const PathField& field : kPathFields) {
    const wchar_t* units = block.*field.unit;
    size_t length = 0;
    // A foreign writer may leave a field without its zero; the last unit is never read then.
    while (length < kDelayedPathUnits - 1 && units[length] != L'\0') ++length;
    (params.*field.param).assign(units, length);
  }
  params.send_statistics = block.send_statistics != 0;
  params.make_default = block.make_default != 0;
  return params;
}

void ApplyDelayedParams(const DelayedParams& params, CommandLine* command_line) {
  command_line->SetProgramPath(params.browser_arc_path);
  for (const PathField& field : kPathFields) {
    if (field.switch_name != nullptr && !(params.*field.param).empty()) {
      command_line->Put(field.switch_name, params.*field.param);
    }
  }
  command_line->PutFlag(switches::kSendStatistics, params.send_statistics);
  command_line->PutFlag(switches::kMakeBrowserDefaultAfterImport, params.make_default);
}

}  // namespace installer
