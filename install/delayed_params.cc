#include "install/delayed_params.h"

#include <windows.h>

#include "platform/command_line.h"
#include "platform/logging.h"
#include "platform/switches.h"

namespace installer {

namespace {

std::wstring FieldText(const wchar_t (&field)[kDelayedPathUnits]) {
  size_t length = 0;
  // A foreign writer may leave a field without its zero; the last unit is never read then.
  while (length < kDelayedPathUnits - 1 && field[length] != L'\0') ++length;
  return std::wstring(field, length);
}

void PutPath(const char* name, const std::wstring& path, CommandLine* command_line) {
  if (!path.empty()) command_line->Put(name, path);
}

}  // namespace

bool WriteDelayedParamsTo(const DelayedParams& params, DelayedParamBlock* block) {
  const std::wstring* paths[] = {
      &params.browser_arc_path,      &params.clids_file_path,
      &params.clids_searchband_file_path, &params.installer_data_path,
      &params.brand_package_path,    &params.partner_package_path,
      &params.partner_package_override_path,
  };
  bool fits = true;
  for (const std::wstring* path : paths) {
    if (path->size() >= kDelayedPathUnits) fits = false;
  }
  if (!fits) {
    LOG(ERROR, "WriteDelayedParams")
        << "Too large string length,"
        << " browser_arc_path=" << params.browser_arc_path
        << " clids_file_path=" << params.clids_file_path
        << " clids_searchband_file_path=" << params.clids_searchband_file_path
        << " installer_data_path=" << params.installer_data_path
        << " brand_package_path=" << params.brand_package_path
        << " partner_package_path=" << params.partner_package_path
        << " partner_package_override_path=" << params.partner_package_override_path
        << " send_statistics=" << params.send_statistics
        << " make_default=" << params.make_default;
    return false;
  }
  wchar_t* fields[] = {
      block->browser_arc_path,      block->clids_file_path,
      block->clids_searchband_file_path, block->installer_data_path,
      block->brand_package_path,    block->partner_package_path,
      block->partner_package_override_path,
  };
  for (size_t i = 0; i < 7; ++i) {
    // The whole field is the limit: a 260-unit path keeps its last character (a limit of
    // 260 would silently cut it to 259 and hand the child another path).
    lstrcpynW(fields[i], paths[i]->c_str(), static_cast<int>(kDelayedPathUnits));
  }
  block->send_statistics = params.send_statistics ? 1 : 0;
  block->make_default = params.make_default ? 1 : 0;
  return true;
}

DelayedParams ReadDelayedParamsFrom(const DelayedParamBlock& block) {
  DelayedParams params;
  params.browser_arc_path = FieldText(block.browser_arc_path);
  params.clids_file_path = FieldText(block.clids_file_path);
  params.clids_searchband_file_path = FieldText(block.clids_searchband_file_path);
  params.installer_data_path = FieldText(block.installer_data_path);
  params.brand_package_path = FieldText(block.brand_package_path);
  params.partner_package_path = FieldText(block.partner_package_path);
  params.partner_package_override_path = FieldText(block.partner_package_override_path);
  params.send_statistics = block.send_statistics != 0;
  params.make_default = block.make_default != 0;
  return params;
}

void ApplyDelayedParams(const DelayedParams& params, CommandLine* command_line) {
  command_line->SetProgramPath(params.browser_arc_path);
  PutPath(switches::kInstallerData, params.installer_data_path, command_line);
  PutPath(switches::kClidsFile, params.clids_file_path, command_line);
  PutPath(switches::kClidsSearchbandFile, params.clids_searchband_file_path, command_line);
  PutPath(switches::kBrandPackage, params.brand_package_path, command_line);
  PutPath(switches::kPartnerPackage, params.partner_package_path, command_line);
  PutPath(switches::kOverridePartnerPackage, params.partner_package_override_path,
          command_line);
  command_line->PutFlag(switches::kSendStatistics, params.send_statistics);
  command_line->PutFlag(switches::kMakeBrowserDefaultAfterImport, params.make_default);
}

}  // namespace installer
