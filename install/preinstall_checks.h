// Checks made before the installation starts that the installer can answer on its own.
//
// `HasEnoughDiskSpace` measures the free space of the folder the browser will be installed
// under: Program Files for a system-level installation, the local application-data folder
// otherwise. Only a measured shortage fails the check; when the folder or its free space
// cannot be read the installation is allowed to try, since the setup program reports a full
// disk itself. Runs on the calling thread.
#ifndef INSTALL_PREINSTALL_CHECKS_H_
#define INSTALL_PREINSTALL_CHECKS_H_

#include <cstdint>
#include <string>

namespace installer {

// The space the entry flow asks for: 600 MiB.
inline constexpr uint64_t kRequiredDiskSpace = 629145600;

// Shell folder ids (CSIDL_PROGRAM_FILES, CSIDL_LOCAL_APPDATA) measured by the check.
inline constexpr int kProgramFilesFolderId = 38;
inline constexpr int kLocalAppDataFolderId = 28;

// Where the check reads the folder and its free space; the default asks Windows.
class DiskSpaceSource {
 public:
  virtual ~DiskSpaceSource() = default;
  // SHGetFolderPathW for `folder_id`; false when Windows cannot give the folder.
  virtual bool GetFolder(int folder_id, std::wstring* folder) = 0;
  // GetDiskFreeSpaceExW: the bytes available to the calling user on the folder's volume.
  virtual bool GetFreeBytes(const std::wstring& folder, uint64_t* free_bytes) = 0;
};

// True when at least `required_bytes` are free for the caller on the volume of the
// installation folder, or when that cannot be measured (logged under "HasEnoughDiskSpace").
// A shortage logs "There is not enough disk space to install browser" and gives false.
bool HasEnoughDiskSpace(bool system_level, uint64_t required_bytes);
// The same check over another source of folders and free space.
bool HasEnoughDiskSpaceForTesting(DiskSpaceSource* source, bool system_level,
                                  uint64_t required_bytes);

}  // namespace installer

#endif  // INSTALL_PREINSTALL_CHECKS_H_
