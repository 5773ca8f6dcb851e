#include "network/kept_archive.h"

#include <windows.h>
#include <shlobj.h>

#include "network/download_sink.h"
#include "network/http_downloader.h"
#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/file_path.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/switches.h"
#include "platform/user_rights.h"

namespace installer {
namespace {

constexpr wchar_t kFolderName[] = L"\\LiteInstallerData";
constexpr wchar_t kArchiveName[] = L"\\setup-archive.part";
constexpr wchar_t kRecordName[] = L"\\setup-archive.record";
constexpr int64_t kClockSlackUs = int64_t{24} * 3600 * 1000000;

bool IsPrintableAscii(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// A decimal number of at most 19 digits without sign or leading zeros.
bool ParseDecimal(std::string_view text, uint64_t* value) {
  if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = number;
  return true;
}

// Tests: the folder used instead of the per-user one.
constinit std::wstring g_folder_for_testing;

}  // namespace

std::string FormatKeptArchiveRecord(const KeptArchiveRecord& record) {
  std::string text = "url=";
  text += record.url;
  text += "\nvalidator=";
  text += record.validator;
  text += "\ntotal=";
  text += platform::ToString(record.total);
  text += "\ntime=";
  text += platform::ToString(static_cast<uint64_t>(record.time_us));
  text += '\n';
  return text;
}

bool ParseKeptArchiveRecord(std::string_view text, KeptArchiveRecord* record) {
  if (text.size() > kMaxKeptRecordBytes) return false;
  static constexpr std::string_view kKeys[] = {"url=", "validator=", "total=", "time="};
  std::string_view values[4];
  for (size_t i = 0; i < 4; ++i) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos || text.substr(0, kKeys[i].size()) != kKeys[i]) {
      return false;
    }
    values[i] = text.substr(kKeys[i].size(), end - kKeys[i].size());
    text.remove_prefix(end + 1);
  }
  if (!text.empty()) return false;
  const std::string_view url = values[0];
  if (url.size() > kMaxKeptUrlChars || !IsPrintableAscii(url) ||
      (url.substr(0, 8) != "https://" && url.substr(0, 7) != "http://")) {
    return false;
  }
  if (!values[1].empty() && !IsUsableValidator(values[1])) return false;
  uint64_t total = 0, time = 0;
  if (!ParseDecimal(values[2], &total) || total == 0 || total > kMaxArchiveBytes ||
      !ParseDecimal(values[3], &time) || time > static_cast<uint64_t>(INT64_MAX)) {
    return false;
  }
  record->url.assign(url);
  record->validator.assign(values[1]);
  record->total = static_cast<uint32_t>(total);
  record->time_us = static_cast<int64_t>(time);
  return true;
}

bool KeptArchiveFits(const KeptArchiveRecord& record, std::string_view url, uint64_t held,
                     int64_t now_us) {
  return record.url == url && held > 0 && held < record.total &&
         record.time_us <= now_us + kClockSlackUs && now_us - record.time_us <= kKeptArchiveMaxAgeUs;
}

void SetKeptArchiveFolderForTesting(const std::wstring& folder) { g_folder_for_testing = folder; }

std::wstring KeptArchiveFolderForThisProcess() {
  if (!g_folder_for_testing.empty()) return g_folder_for_testing;
  if (ProcessCommandLine().Has(switches::kRunAsAdmin) || RunsWithMoreRightsThanFolderUser()) {
    return std::wstring();
  }
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT,
                              folder)) ||
      folder[0] == L'\0' || wcslen(folder) + wcslen(kFolderName) + wcslen(kRecordName) >= MAX_PATH) {
    return std::wstring();
  }
  return folder + std::wstring(kFolderName);
}

std::wstring KeptArchive::archive_path() const { return folder_ + kArchiveName; }
std::wstring KeptArchive::record_path() const { return folder_ + kRecordName; }

std::unique_ptr<ArchiveLock> KeptArchive::Prepare() const {
  if (!CreateDirectoryW(folder_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    logging::LogWithValue(logging::kERROR, "KeptArchive", __LINE__,
                          "Cannot create the folder of the kept download: ", folder_);
    return nullptr;
  }
  auto lock = std::make_unique<ArchiveLock>(archive_path(), true);
  if (!lock->IsValid()) {
    LOG(WARNING, "KeptArchive") << "The kept download is in use by another run; this one "
                                   "downloads to a file of its own.";
    return nullptr;
  }
  return lock;
}

bool KeptArchive::Reuse(const std::string& url, uint64_t held, KeptArchiveRecord* record) const {
  std::string text;
  {
    platform::ScopedKernelHandle file(CreateFileW(record_path().c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    // Read on the heap: the product's frames stay below the 4,000 bytes that may skip the
    // stack's guard page without a probe.
    text.resize(kMaxKeptRecordBytes + 1);
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read,
                           nullptr)) {
      read = 0;
    }
    text.resize(read);
  }
  KeptArchiveRecord kept;
  if (held > 0 && ParseKeptArchiveRecord(text, &kept) &&
      KeptArchiveFits(kept, url, held, platform::WallTimeMicroseconds())) {
    LOG(INFO, "KeptArchive") << "Resuming the kept download: " << held << " of " << kept.total
                             << " bytes of " << url;
    *record = kept;
    return true;
  }
  if (held > 0 || !text.empty()) {
    LOG(INFO, "KeptArchive") << "The kept download does not fit this run (" << held
                             << " bytes); it starts over.";
  }
  RemoveRecord();
  return false;
}

bool KeptArchive::Save(const KeptArchiveRecord& record) const {
  return platform::WriteWholeFile(platform::FilePath(record_path()),
                                  FormatKeptArchiveRecord(record));
}

void KeptArchive::Remove() const {
  RemoveRecord();
  platform::DeletePath(platform::FilePath(archive_path()), false);
}

void KeptArchive::RemoveRecord() const {
  platform::DeletePath(platform::FilePath(record_path()), false);
}

}  // namespace installer
