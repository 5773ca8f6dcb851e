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
//
// The copy and its folder are marked for deletion at the next reboot, for a child that is
// killed before its clean-up. Those entries outlive the folder, so no path they name may
// ever become a user's: the fresh folders live in one persistent parent, `kPrivateParentName`
// in a machine-wide folder, that only Administrators and SYSTEM can write (and that is never
// deleted), and the copy has a fixed name (`kPrivateCopyName`), never one from the block.
#ifndef STARTUP_ELEVATED_ARCHIVE_H_
#define STARTUP_ELEVATED_ARCHIVE_H_

#include <windows.h>

#include <string>
#include <vector>

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

// The persistent parent of the private folders, and the name of every copy.
inline constexpr wchar_t kPrivateParentName[] = L"lite_installer_elevated";
inline constexpr wchar_t kPrivateCopyName[] = L"li_setup.arc";

// The security descriptor of the private folders and their parent: owned by Administrators,
// with a protected DACL that gives full access to Administrators and SYSTEM only, inherited
// by the copy. Owns it; null when Windows cannot build it.
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

// Whether nobody but Administrators and SYSTEM can write a folder with this owner and DACL
// (add or delete entries, delete it, change its security): the owner is one of the two, the
// DACL exists, and every allowing entry that applies to the folder itself and grants any of
// those rights names one of the two. An entry of another kind is refused.
bool OnlyAdministratorsCanWrite(PSID owner, const ACL* dacl);

// Deletes the folders "li_<process id>_<n>" in `parent` whose process has ended: private
// folders of children that were killed before their clean-up.
void RemoveStalePrivateFolders(const std::wstring& parent);

// The elevated child's own copy of the archive. Owns the folder: the destructor deletes the
// copy and the folder.
class PrivateArchiveCopy {
 public:
  PrivateArchiveCopy() = default;
  ~PrivateArchiveCopy();
  PrivateArchiveCopy(const PrivateArchiveCopy&) = delete;
  PrivateArchiveCopy& operator=(const PrivateArchiveCopy&) = delete;

  // Opens `source` once (refusing a reparse point, a folder, or a file larger than the
  // download's cap, kMaxArchiveBytes), then takes the first of `roots` (none given: the
  // system Windows folder's "Temp", then the common application data folder) in which the
  // persistent parent can be used: made with the `PrivateFolderDescriptor`, or, when it
  // exists, kept while `OnlyAdministratorsCanWrite` holds for it and otherwise deleted and
  // made anew. There it removes stale private folders, creates a fresh folder with the same
  // descriptor and copies the opened file into it as `kPrivateCopyName`. The folder and then
  // the copy are marked for deletion at the next reboot as soon as each exists. Logs why and
  // returns false on failure (nothing but the parent is left behind).
  bool Create(const std::wstring& source, const std::vector<std::wstring>& roots = {});

  const std::wstring& path() const { return path_; }
  const std::wstring& folder() const { return folder_; }

 private:
  void Remove();

  std::wstring folder_;
  std::wstring path_;
};

}  // namespace installer

#endif  // STARTUP_ELEVATED_ARCHIVE_H_
