#include "brand/vendor_files.h"

#include <string_view>

#include "brand/brand_packages.h"
#include "brand/registry_values.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/switches.h"
#include "resources/resource_ids.h"

namespace installer {
namespace {

// False (logged) when the file could not be written whole; it is removed again then.
bool WriteResourceFile(HMODULE module, int id, const std::wstring& path) {
  std::string_view bytes;
  if (!FindBinResource(module, MAKEINTRESOURCEW(id), &bytes) || bytes.empty()) {
    LOG(WARNING, "WriteVendorFiles") << "Resource " << id << " is missing or empty";
  }
  if (!platform::WriteWholeFile(platform::FilePath(path), bytes)) {
    LOG(ERROR, "WriteVendorFiles") << L"Can't write " << path;
    return false;
  }
  return true;
}

// The value for the setup program, or none when there is no file to name.
void StorePathInRegistry(std::string_view name, const std::wstring& path) {
  if (path.empty()) {
    RemoveValueFromRegistry(name);
  } else {
    StoreValueInRegistry(name, path);
  }
}

}  // namespace

VendorFilePaths VendorFilePathsFromCommandLine(const CommandLine& command_line) {
  VendorFilePaths paths;
  paths.installer_data = command_line.Value(switches::kInstallerData);
  paths.clids = command_line.Value(switches::kClidsFile);
  paths.clids_searchband = command_line.Value(switches::kClidsSearchbandFile);
  return paths;
}

VendorFilePaths WriteVendorFilesFromModule(HMODULE module, const std::wstring& folder,
                                           const VendorFilePaths& given) {
  std::wstring prefix = folder;
  if (!prefix.empty() && prefix.back() != L'\\' && prefix.back() != L'/') prefix += L'\\';

  struct Entry {
    std::wstring VendorFilePaths::*path;
    const wchar_t* file_name;
    int resource_id;
  };
  static constexpr Entry kEntries[] = {
      {&VendorFilePaths::installer_data, L"master_preferences", IDR_INSTALLER_DATA},
      {&VendorFilePaths::clids, L"clids.xml", IDR_CLIDS},
      {&VendorFilePaths::clids_searchband, L"clids_searchband.xml", IDR_CLIDS_SEARCHBAND},
  };
  VendorFilePaths paths = given;
  for (const Entry& entry : kEntries) {
    std::wstring& path = paths.*entry.path;
    if (!path.empty()) continue;
    path = prefix + entry.file_name;
    // A file that was not written whole is not handed on: an earlier run's file (another
    // brand's, perhaps) may still lie there.
    if (!WriteResourceFile(module, entry.resource_id, path)) path.clear();
  }
  StorePathInRegistry(kInstallerDataValue, paths.installer_data);
  StorePathInRegistry(kClidsFileValue, paths.clids);
  StorePathInRegistry(kClidsSearchbandFileValue, paths.clids_searchband);
  return paths;
}

VendorFilePaths WriteVendorFiles(const std::wstring& folder, const VendorFilePaths& given) {
  return WriteVendorFilesFromModule(::GetModuleHandleW(nullptr), folder, given);
}

VendorFilePaths WriteVendorFiles(const std::wstring& folder) {
  return WriteVendorFiles(folder, VendorFilePathsFromCommandLine(ProcessCommandLine()));
}

}  // namespace installer
