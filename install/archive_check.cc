#include "install/archive_check.h"

#include <utility>

#include "install/installer.h"
#include "platform/logging.h"

namespace installer {

ArchiveCheck LockAndVerifyArchive(Installer* installer, const std::wstring& path,
                                  ArchiveLock* held, platform::ScopedKernelHandle* lock,
                                  const char* tag) {
  platform::ScopedKernelHandle opened;
  bool locked = false;
  if (held != nullptr) {
    locked = held->ConvertToReadExecute();
  } else {
    opened = LockArchiveForExecution(path);
    locked = opened.is_valid();
  }
  if (!locked) {
    logging::LogWithValue(logging::kERROR, tag, __LINE__, "Cannot lock file: ", path);
    return ArchiveCheck::kNotLocked;
  }
  if (!installer->VerifyModuleSignature(path)) return ArchiveCheck::kNotVerified;
  if (held == nullptr) *lock = std::move(opened);
  return ArchiveCheck::kVerified;
}

}  // namespace installer
