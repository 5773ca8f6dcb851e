// The documents the installer hands to the browser setup program from its own resources:
// the installer data (master preferences) and the two client-identifier XML files.
//
// Each path is taken from its switch ("installerdata", "clids-file", "clids-searchband-file")
// when the caller gave one; otherwise the installer writes its own copy into the work folder
// from a "BIN" resource (305, 306, 322). The resulting paths are remembered in the registry
// values "InstallerData", "ClidsFile" and "ClidsSearchbandFile", which the install step
// removes again after a successful installation.
#ifndef BRAND_VENDOR_FILES_H_
#define BRAND_VENDOR_FILES_H_

#include <windows.h>

#include <string>

namespace installer {

class CommandLine;

inline constexpr char kInstallerDataValue[] = "InstallerData";
inline constexpr char kClidsFileValue[] = "ClidsFile";
inline constexpr char kClidsSearchbandFileValue[] = "ClidsSearchbandFile";

struct VendorFilePaths {
  std::wstring installer_data;
  std::wstring clids;
  std::wstring clids_searchband;
};

// The three paths given on `command_line` (empty where a switch is absent).
VendorFilePaths VendorFilePathsFromCommandLine(const CommandLine& command_line);

// Fills every empty path of `given` with `folder` + "master_preferences", "clids.xml" or
// "clids_searchband.xml" and writes the resource bytes there unchanged (create or
// truncate); a write failure or a missing resource is logged and otherwise ignored, as the
// setup program copes without the file. Stores the three paths in the registry and
// returns them. `folder` is the work folder; a missing trailing backslash is added.
VendorFilePaths WriteVendorFiles(const std::wstring& folder, const VendorFilePaths& given);
// WriteVendorFiles with the paths from the process command line.
VendorFilePaths WriteVendorFiles(const std::wstring& folder);
// The same, reading the resources from `module` (an image or a data-file module).
VendorFilePaths WriteVendorFilesFromModule(HMODULE module, const std::wstring& folder,
                                           const VendorFilePaths& given);

}  // namespace installer

#endif  // BRAND_VENDOR_FILES_H_
