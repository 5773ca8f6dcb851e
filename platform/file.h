// Open files and read-only file mappings.
//
// `File` opens or creates one file as a 32-bit flag word says (the bits below map one to
// one onto CreateFileW's disposition, access, sharing and attribute arguments) and keeps
// it open until `Close` or destruction. The install flow uses it to hold the downloaded
// setup archive open without write sharing while it is verified and run, so nobody can
// change it in between.
//
// `MappedFile` maps a whole file read-only; its length is that of the mapped region, which
// Windows rounds up to whole pages (the bytes after the end of the file read as zero).
#ifndef PLATFORM_FILE_H_
#define PLATFORM_FILE_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/file_path.h"
#include "platform/scoped_handle.h"

namespace platform {

class File {
 public:
  // Dispositions: when several are set the highest bit wins; with none nothing is opened.
  static constexpr uint32_t kFlagOpen = 0x1;               // OPEN_EXISTING
  static constexpr uint32_t kFlagCreate = 0x2;             // CREATE_NEW
  static constexpr uint32_t kFlagOpenAlways = 0x4;         // OPEN_ALWAYS
  static constexpr uint32_t kFlagCreateAlways = 0x8;       // CREATE_ALWAYS
  static constexpr uint32_t kFlagOpenTruncated = 0x10;     // TRUNCATE_EXISTING
  // Access.
  static constexpr uint32_t kFlagRead = 0x20;              // GENERIC_READ
  static constexpr uint32_t kFlagWrite = 0x40;             // GENERIC_WRITE
  static constexpr uint32_t kFlagAppend = 0x80;            // FILE_APPEND_DATA, not GENERIC_WRITE
  // Sharing: read and write sharing are granted unless these bits refuse them.
  static constexpr uint32_t kFlagExclusiveRead = 0x100;    // no FILE_SHARE_READ
  static constexpr uint32_t kFlagExclusiveWrite = 0x200;   // no FILE_SHARE_WRITE
  // Flags and attributes.
  static constexpr uint32_t kFlagAsync = 0x400;            // FILE_FLAG_OVERLAPPED
  static constexpr uint32_t kFlagTemporary = 0x800;        // FILE_ATTRIBUTE_TEMPORARY
  static constexpr uint32_t kFlagHidden = 0x1000;          // FILE_ATTRIBUTE_HIDDEN
  static constexpr uint32_t kFlagDeleteOnClose = 0x2000;   // FILE_FLAG_DELETE_ON_CLOSE
  static constexpr uint32_t kFlagWriteAttributes = 0x4000; // FILE_WRITE_ATTRIBUTES
  static constexpr uint32_t kFlagShareDelete = 0x8000;     // FILE_SHARE_DELETE
  static constexpr uint32_t kFlagBackupSemantics = 0x20000;  // FILE_FLAG_BACKUP_SEMANTICS
  static constexpr uint32_t kFlagExecute = 0x40000;        // GENERIC_EXECUTE
  static constexpr uint32_t kFlagSequentialScan = 0x80000; // FILE_FLAG_SEQUENTIAL_SCAN
  static constexpr uint32_t kFlagCanDelete = 0x100000;     // DELETE

  // Why the last `Initialize` failed.
  enum class Error {
    kOk = 0,
    kFailed = -1,
    kInUse = -2,
    kExists = -3,
    kNotFound = -4,
    kAccessDenied = -5,
    kTooManyOpened = -6,
    kNoMemory = -7,
    kNoSpace = -8,
    kInvalidOperation = -9,
  };

  // The arguments CreateFileW gets for a flag word; `disposition` is 0 when no disposition
  // bit is set.
  struct CreateArguments {
    DWORD disposition = 0;
    DWORD access = 0;
    DWORD sharing = 0;
    DWORD flags_and_attributes = 0;
  };
  static CreateArguments ArgumentsForFlags(uint32_t flags);
  // The `Error` for a Windows error code (anything unknown is kFailed).
  static Error ErrorFromWindowsError(DWORD windows_error);

  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&&) = default;
  File& operator=(File&&) = default;

  // Closes a file held before, then opens `path` as `flags` say. On failure `error` tells
  // why and the last error is the one CreateFileW set (ERROR_INVALID_PARAMETER when no
  // disposition bit is set); on success it records `created` and `async`.
  bool Initialize(const FilePath& path, uint32_t flags);
  void Close();

  bool IsValid() const { return handle_.is_valid(); }
  // Owned by this object; null when nothing is open.
  HANDLE handle() const { return handle_.get(); }
  // Whether the file was made by `Initialize`: always for kFlagCreate and
  // kFlagCreateAlways, for kFlagOpenAlways when it did not exist before.
  bool created() const { return created_; }
  // Opened with FILE_FLAG_OVERLAPPED.
  bool async() const { return async_; }
  Error error() const { return error_; }

 private:
  ScopedKernelHandle handle_;
  bool created_ = false;
  bool async_ = false;
  Error error_ = Error::kOk;
};

class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Maps the whole file for reading (opened with read sharing, OPEN_EXISTING; PAGE_READONLY,
  // FILE_MAP_READ). An empty file cannot be mapped and fails. A second Open on the same
  // object fails and keeps the first mapping.
  bool Open(const FilePath& path);

  bool IsValid() const { return view_.is_valid(); }
  // The mapped bytes; null before a successful Open.
  const uint8_t* data() const { return static_cast<const uint8_t*>(view_.get()); }
  // The size of the mapped region as VirtualQuery reports it: the file size rounded up to
  // whole pages (a 5000-byte file gives 8192 with 4096-byte pages).
  size_t length() const { return length_; }

 private:
  ScopedKernelHandle file_;
  ScopedKernelHandle mapping_;
  ScopedMappedView view_;
  size_t length_ = 0;
};

}  // namespace platform

#endif  // PLATFORM_FILE_H_
