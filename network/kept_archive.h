// The partly downloaded setup archive, kept for a later run (a window closed half-way, a
// link gone for longer than the attempts last, a machine that restarted).
//
// One per user at most: a fixed file name in a folder of the program's own under the user's
// local application data, with a small record beside it (URL, validator, total, time). The
// folder is the user's, so nothing in it is trusted: the record's fields are bounded and
// checked, a record that does not fit the run removes both files, and only the archive's
// verification decides what runs. A process with administrator rights keeps nothing there
// (`KeptArchiveFolderForThisProcess` is the one place that decides it): it would open and
// delete by a predictable path in a folder its user controls.
#ifndef NETWORK_KEPT_ARCHIVE_H_
#define NETWORK_KEPT_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/archive_lock.h"

namespace installer {

inline constexpr size_t kMaxKeptRecordBytes = 4096;
inline constexpr size_t kMaxKeptUrlChars = 2083;
// How long kept bytes are worth a resume (wall-clock microseconds).
inline constexpr int64_t kKeptArchiveMaxAgeUs = int64_t{7} * 24 * 3600 * 1000000;

struct KeptArchiveRecord {
  std::string url;        // the archive's URL, http(s), printable ASCII
  std::string validator;  // of the answer the bytes came from; may be empty
  uint32_t total = 0;     // the whole file's size, 1 .. kMaxArchiveBytes
  int64_t time_us = 0;    // when these bytes were first fetched (wall clock); later runs keep it
};

// "url=...\nvalidator=...\ntotal=...\ntime=...\n".
std::string FormatKeptArchiveRecord(const KeptArchiveRecord& record);
// False for anything but exactly those four keys, once each and in bounds.
bool ParseKeptArchiveRecord(std::string_view text, KeptArchiveRecord* record);
// Whether `held` kept bytes of `record` may be resumed by a run of `url` at `now_us`: the
// same URL, fewer bytes than the total, first fetched within the last 7 days (and not ahead of
// the clock by more than a day).
bool KeptArchiveFits(const KeptArchiveRecord& record, std::string_view url, uint64_t held,
                     int64_t now_us);

// The folder of this process's kept archive: "<local application data>\LiteInstallerData";
// empty (keep nothing) for a process with administrator rights (elevated through UAC, the
// elevated copy, or a service account such as SYSTEM) or when the folder is unknown.
std::wstring KeptArchiveFolderForThisProcess();
// Tests: the folder `KeptArchiveFolderForThisProcess` gives from now on in this process
// (empty: the product's own again).
void SetKeptArchiveFolderForTesting(const std::wstring& folder);

class KeptArchive {
 public:
  // `folder` empty: nothing is kept.
  explicit KeptArchive(std::wstring folder) : folder_(std::move(folder)) {}

  bool enabled() const { return !folder_.empty(); }
  // The archive's file; it exists only while bytes are kept or the run uses it.
  std::wstring archive_path() const;
  // Makes the folder and opens the archive as it is, held until the lock is dropped (so
  // the run works on that one file, never reopened by its path); null when the folder
  // cannot be made or another run holds the archive (that run downloads into it; this one
  // downloads to a file of its own and leaves the record alone).
  std::unique_ptr<ArchiveLock> Prepare() const;
  // The kept bytes' record when they fit a run of `url` (`KeptArchiveFits`) and the
  // archive holds `held` bytes; otherwise the record is removed (the caller, which holds the
  // archive open, empties it) and false returned.
  bool Reuse(const std::string& url, uint64_t held, KeptArchiveRecord* record) const;
  // Writes the record (replacing the old one). False when it could not be written.
  bool Save(const KeptArchiveRecord& record) const;
  // Removes the archive and its record.
  void Remove() const;
  void RemoveRecord() const;

 private:
  std::wstring record_path() const;
  std::wstring folder_;
};

}  // namespace installer

#endif  // NETWORK_KEPT_ARCHIVE_H_
