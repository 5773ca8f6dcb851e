// The last step before an archive runs: it is locked against writers, then proven to be the
// publisher's, in that order, so that what was checked is what the setup runs. The master
// (install/installer.h) and the elevated child (install/elevated_child.h) both take it here.
#ifndef INSTALL_ARCHIVE_CHECK_H_
#define INSTALL_ARCHIVE_CHECK_H_

#include <string>

#include "platform/archive_lock.h"
#include "platform/scoped_handle.h"

namespace installer {

class Installer;

// How `LockAndVerifyArchive` ended.
enum class ArchiveCheck {
  kVerified,     // locked, and the signature check passed
  kNotLocked,    // the lock failed; an ERROR line "Cannot lock file: <path>" under `tag`
  kNotVerified,  // locked, but the signature check failed; not logged, the caller decides
};

// With `held` (the write lock the download kept), that lock is converted in place into a
// read-and-execute one (`ArchiveLock::ConvertToReadExecute`) and stays the caller's; without
// it the archive is opened anew for execution (`LockArchiveForExecution`) and, when it is
// verified, that lock goes to `*lock` (untouched otherwise). The check is
// `installer->VerifyModuleSignature`.
ArchiveCheck LockAndVerifyArchive(Installer* installer, const std::wstring& path,
                                  ArchiveLock* held, platform::ScopedKernelHandle* lock,
                                  const char* tag);

}  // namespace installer

#endif  // INSTALL_ARCHIVE_CHECK_H_
