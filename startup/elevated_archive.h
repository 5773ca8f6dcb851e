// What the elevated child runs, and from where.
//
// The elevated child runs with administrator rights on paths that it reads from a shared
// block any process of this image can write, after a go event any process of the user can
// set. So it trusts none of them as they stand: every path it is handed must be a local
// absolute path of a regular file with no reparse point (junction, symbolic link) on the way,
// and the archive itself is opened once and copied from that handle into a fresh folder that
// only Administrators and SYSTEM can write. Only that copy is verified and run; re-pointing
// the original path afterwards (or a server that answers each open differently) changes
// nothing.
#ifndef STARTUP_ELEVATED_ARCHIVE_H_
#define STARTUP_ELEVATED_ARCHIVE_H_

#include <windows.h>

#include <string>

namespace installer {

// Log tag of the elevated child's lines, this file's among them.
inline constexpr char kElevatedChildTag[] = "ExecuteAsAdmin";

// What the path check asks of the file system; tests substitute one (Wine cannot make
// junctions).
class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  // GetFileAttributesW.
  virtual DWORD Attributes(const std::wstring& path);
  // GetDriveTypeW of a root such as L"C:\\".
  virtual UINT DriveType(const std::wstring& root);
};

// Why `path` is not a local regular file the elevated child may use; null when it is: a
// drive-letter path on a local drive ("C:\\..."; no UNC, device, relative or stream path, no
// "." or ".." parts), each folder on the way a real folder and the file a regular file, none
// of them a reparse point.
const char* LocalFileProblem(const std::wstring& path, FileSystemView* view = nullptr);

// The security descriptor of the private folder: a protected DACL that gives full access to
// Administrators and SYSTEM only, inherited by the copy. Owns it; null when Windows cannot
// build it.
class PrivateFolderDescriptor {
 public:
  PrivateFolderDescriptor();
  ~PrivateFolderDescriptor();
  PrivateFolderDescriptor(const PrivateFolderDescriptor&) = delete;
  PrivateFolderDescriptor& operator=(const PrivateFolderDescriptor&) = delete;

  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// The elevated child's own copy of the archive. Owns the folder: the destructor deletes the
// copy and the folder.
class PrivateArchiveCopy {
 public:
  PrivateArchiveCopy() = default;
  ~PrivateArchiveCopy();
  PrivateArchiveCopy(const PrivateArchiveCopy&) = delete;
  PrivateArchiveCopy& operator=(const PrivateArchiveCopy&) = delete;

  // Opens `source` once (refusing a reparse point or a folder), creates a fresh folder in
  // `parent` (empty: the Windows folder's "Temp", which users cannot rename things in) with
  // the `PrivateFolderDescriptor`, and copies the opened file into it under the source's
  // name. Logs why and returns false on failure (nothing is left behind).
  bool Create(const std::wstring& source, const std::wstring& parent = std::wstring());

  const std::wstring& path() const { return path_; }
  const std::wstring& folder() const { return folder_; }

 private:
  void Remove();

  std::wstring folder_;
  std::wstring path_;
};

}  // namespace installer

#endif  // STARTUP_ELEVATED_ARCHIVE_H_
