#include "install/preinstall_checks.h"

#include <shlobj.h>
#include <windows.h>

#include "platform/logging.h"

namespace installer {
namespace {

class SystemDiskSpaceSource : public DiskSpaceSource {
 public:
  bool GetFolder(int folder_id, std::wstring* folder) override {
    wchar_t buffer[MAX_PATH] = {};
    HRESULT hr = SHGetFolderPathW(nullptr, folder_id, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(hr)) return false;
    folder->assign(buffer);
    return true;
  }

  bool GetFreeBytes(const std::wstring& folder, uint64_t* free_bytes) override {
    // The first value is what the user may still use (quotas included), which is what the
    // setup program running as that user can fill; the total free bytes may be more.
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return false;
    *free_bytes = available.QuadPart;
    return true;
  }
};

}  // namespace

bool HasEnoughDiskSpaceForTesting(DiskSpaceSource* source, bool system_level,
                                  uint64_t required_bytes) {
  std::wstring folder;
  if (!source->GetFolder(system_level ? kProgramFilesFolderId : kLocalAppDataFolderId,
                         &folder)) {
    logging::LogText(logging::kINFO, "HasEnoughDiskSpace", __LINE__, "SHGetFolderPath failed");
    return true;
  }
  uint64_t free_bytes = 0;
  if (!source->GetFreeBytes(folder, &free_bytes)) {
    logging::LogText(logging::kINFO, "HasEnoughDiskSpace", __LINE__, "GetDiskFreeSpaceEx failed");
    return true;
  }
  if (free_bytes >= required_bytes) return true;
  logging::LogText(logging::kINFO, "HasEnoughDiskSpace", __LINE__,
          "There is not enough disk space to install browser");
  return false;
}

bool HasEnoughDiskSpace(bool system_level, uint64_t required_bytes) {
  SystemDiskSpaceSource source;
  return HasEnoughDiskSpaceForTesting(&source, system_level, required_bytes);
}

}  // namespace installer
