#include "platform/logging.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>

#include "platform/file_util.h"
#include "platform/scoped_handle.h"
#include "platform/shared_sections.h"
#include "tests/support/test_paths.h"

namespace logging {
namespace {

std::wstring ReadLog(const std::wstring& path) {
  std::string bytes = test_support::ReadFileBytes(path);
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLoggingForTesting();
    path_ = dir_.File(L"lite_installer.log");
    InitLogging(path_);
  }
  void TearDown() override { ResetLoggingForTesting(); }

  test_support::ScopedTempDir dir_;
  std::wstring path_;
};

TEST_F(LoggingTest, FirstLineCarriesByteOrderMarkAndLayout) {
  LOG_AT(INFO, "wWinMain", 131) << "-------------------------------------- Start install.";
  LOG_AT(WARNING, "GetInfo", 7) << "Partner package is empty.";
  std::wstring log = ReadLog(path_);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(L'\xFEFF', log[0]);
  // Only the first line has a byte-order mark.
  EXPECT_EQ(std::wstring::npos, log.find(L'\xFEFF', 1));
  std::wstring tid = L"<" + std::to_wstring(GetCurrentThreadId()) + L"> ";
  EXPECT_NE(std::wstring::npos,
            log.find(tid + L"INFO: wWinMain (131): -------------------------------------- "
                           L"Start install.\n"));
  EXPECT_NE(std::wstring::npos, log.find(tid + L"WARNING: GetInfo (7): Partner package is empty.\n"));
  // Date and time: "YYYY-MM-DD HH:MM:SS <".
  ASSERT_GT(log.size(), 21u);
  EXPECT_EQ(L'-', log[5]);
  EXPECT_EQ(L' ', log[11]);
  EXPECT_EQ(L':', log[14]);
  EXPECT_EQ(L'<', log[21]);
}

TEST_F(LoggingTest, ErrorLinesCarryTheSystemTextOfTheLastError) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  LOG_AT(ERROR, "Test", 1) << "first";
  SetLastError(0x2BADF00D);
  LOG_AT(ERROR, "Test", 2) << "second";
  // Logging keeps the caller's last error.
  EXPECT_EQ(0x2BADF00Du, GetLastError());

  wchar_t system_text[1024];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, ERROR_FILE_NOT_FOUND, 1033, system_text, 1024, nullptr);
  ASSERT_GT(length, 0u);
  std::wstring log = ReadLog(path_);
  EXPECT_NE(std::wstring::npos, log.find(L"ERROR: Test (1): first Last error: " +
                                         std::wstring(system_text, length)));
  EXPECT_NE(std::wstring::npos,
            log.find(L"ERROR: Test (2): second Last error: unknown error 0x2badf00d\n"));
}

// Outside text reaches a line as one line: narrow text widened as UTF-8 where it is UTF-8,
// every control character escaped, the system's error text (its CR LF) left as it is.
TEST_F(LoggingTest, OutsideTextStaysOnItsLineAndKeepsItsCharacters) {
  using namespace std::string_literals;
  const struct {
    std::string narrow;
    std::wstring wide;
    std::wstring logged;
  } cases[] = {
      {"v\r\nINFO: wWinMain (257): Installer exit with code: 0", L"",
       L"v\\x0D\\x0AINFO: wWinMain (257): Installer exit with code: 0"},
      {"Zorvin \xD0\x91\xD1\x80\xC3\xA9", L"", L"Zorvin \x0411\x0440\xE9"},
      {"bytes \xE9\xFF", L"", L"bytes \xE9\xFF"},  // no UTF-8: byte by byte
      {"", L"tab\t del\x7F nel\x85 ls\x2028 ps\x2029 nul\0"s,
       L"tab\\x09 del\\x7F nel\\x85 ls\\u2028 ps\\u2029 nul\\x00"},
      {"C:\\Temp\\a b", L"", L"C:\\Temp\\a b"},
  };
  for (const auto& c : cases) LOG_AT(INFO, "Test", 3) << c.narrow << c.wide;
  SetLastError(ERROR_FILE_NOT_FOUND);
  LOG_AT(ERROR, "Test", 4) << "x\n";
  std::wstring log = ReadLog(path_);
  for (const auto& c : cases) {
    EXPECT_NE(std::wstring::npos, log.find(L"INFO: Test (3): " + c.logged + L"\n")) << c.narrow;
  }
  // One line each; the error line ends with the system text's own line end.
  EXPECT_EQ(std::size(cases) + 1, static_cast<size_t>(std::count(log.begin(), log.end(), L'\n')));
  EXPECT_NE(std::wstring::npos, log.find(L"ERROR: Test (4): x\\x0A Last error: "));
}

// The backup lands beside the log, never in the current folder.
TEST_F(LoggingTest, FullLogIsRotatedToOldBeforeTheNextLine) {
  // A log of exactly 1 MiB; the backup it replaces is gone.
  std::string big(kMaxLogSize, 'x');
  big[0] = '\xFF';
  big[1] = '\xFE';
  ASSERT_TRUE(test_support::WriteFileBytes(path_, big));
  ASSERT_TRUE(test_support::WriteFileBytes(path_ + L".old", "older"));
  test_support::ScopedTempDir current;
  wchar_t before[MAX_PATH];
  ASSERT_TRUE(GetCurrentDirectoryW(MAX_PATH, before) &&
              SetCurrentDirectoryW(current.path().c_str()));
  LOG_AT(INFO, "Test", 3) << "after rotation";
  SetCurrentDirectoryW(before);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
            GetFileAttributesW(current.File(L"lite_installer.log.old").c_str()));
  EXPECT_EQ(kMaxLogSize, test_support::ReadFileBytes(path_ + L".old").size());
  std::wstring log = ReadLog(path_);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(L'\xFEFF', log[0]);
  EXPECT_NE(std::wstring::npos, log.find(L"INFO: Test (3): after rotation\n"));
}

TEST_F(LoggingTest, RotationThatCannotRenameAppendsInsteadOfLooping) {
  std::string big(kMaxLogSize + 10, 'y');
  ASSERT_TRUE(test_support::WriteFileBytes(path_, big));
  // Another program holds the log open without delete sharing: the rename fails.
  HANDLE holder = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  LOG_AT(INFO, "Test", 4) << "kept";
  CloseHandle(holder);
  std::string bytes = test_support::ReadFileBytes(path_);
  EXPECT_GT(bytes.size(), big.size());
  std::wstring tail(reinterpret_cast<const wchar_t*>(bytes.data() + big.size()),
                    (bytes.size() - big.size()) / 2);
  EXPECT_NE(std::wstring::npos, tail.find(L"INFO: Test (4): kept\n"));
}

// A log in a folder where others can create names: a hard link to another file, or a file
// that the open found somewhere else than at the log's path (a mount point or an
// object-manager link on the way, played by a fake of the final-path query: Wine 8.0 makes
// no junction or symbolic link), is refused as it stands; a missing log is made, also by an
// elevated process (every process under Wine is one), unless the open made it elsewhere.
DWORD WINAPI FinalPathElsewhere(HANDLE, wchar_t* path, DWORD size, DWORD) {
  const wchar_t kElsewhere[] = L"\\\\?\\C:\\windows\\system32\\lite_installer.log";
  if (size <= wcslen(kElsewhere)) return static_cast<DWORD>(wcslen(kElsewhere) + 1);
  wcscpy(path, kElsewhere);
  return static_cast<DWORD>(wcslen(kElsewhere));
}

// With more rights than its folder's user, a process also refuses a folder or a log that
// someone else owns. Wine reads every file's owner as the token's user (and keeps no other),
// so other owners come from a fake of the owner query, given as SDDL for folder and file.
const wchar_t* g_folder_owner = nullptr;
const wchar_t* g_log_owner = nullptr;

DWORD WINAPI FakeOwner(HANDLE object, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner,
                       PSID*, PACL*, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
  BY_HANDLE_FILE_INFORMATION information = {};
  GetFileInformationByHandle(object, &information);
  const wchar_t* sddl =
      information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? g_folder_owner : g_log_owner;
  if (sddl == nullptr) {
    return GetSecurityInfo(object, type, what, owner, nullptr, nullptr, nullptr, descriptor);
  }
  BOOL defaulted = FALSE;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, descriptor, nullptr);
  GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
  return ERROR_SUCCESS;
}

TEST(LoggingOwnerTest, RefusesAHardLinkAndALogFoundElsewhereAndMakesAMissingOne) {
  constexpr wchar_t kOtherUser[] = L"O:S-1-5-21-1-2-3-1001";
  constexpr wchar_t kTrustedInstaller[] =
      L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  enum Rights { kToken, kElevated, kSystem };
  const struct {
    const char* name;
    bool exists;
    bool hard_link;  // the log is a second name of "other.txt"
    bool elsewhere;  // the final path names another file
    bool written;
    Rights rights = kToken;
    const wchar_t* folder_owner = nullptr;  // null: as the system reads it
    const wchar_t* log_owner = nullptr;
  } kCases[] = {
      {"ordinary", true, false, false, true},    {"missing", false, false, false, true},
      {"hard link", true, true, false, false},   {"elsewhere", true, false, true, false},
      {"missing, made elsewhere", false, false, true, false},
      {"elevated, the user's own", true, false, false, true, kElevated},
      {"elevated, planted", true, false, false, false, kElevated, nullptr, kOtherUser},
      {"SYSTEM, planted", true, false, false, false, kSystem, nullptr, kOtherUser},
      {"elevated, the administrators'", true, false, false, true, kElevated, nullptr, L"O:BA"},
      {"SYSTEM, TEMP the system folder", false, false, false, false, kSystem, kTrustedInstaller},
      {"SYSTEM, the system's TEMP", false, false, false, true, kSystem, L"O:SY"},
      {"elevated, the system's TEMP", false, false, false, false, kElevated, L"O:SY"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    test_support::ScopedTempDir dir;
    const std::wstring path = dir.File(L"lite_installer.log");
    const std::string before("\xFF\xFE", 2);
    const std::wstring file = c.hard_link ? dir.File(L"other.txt") : path;
    if (c.exists) {
      ASSERT_TRUE(test_support::WriteFileBytes(file, before));
    }
    if (c.hard_link) {
      ASSERT_TRUE(CreateHardLinkW(path.c_str(), file.c_str(), nullptr));
    }
    ResetLoggingForTesting();
    if (c.rights != kToken) SetRightsForTesting(true, c.rights == kSystem);
    g_folder_owner = c.folder_owner;
    g_log_owner = c.log_owner;
    platform::SetOwnerQueryForTesting(FakeOwner);
    platform::SetFinalPathQueryForTesting(c.elsewhere ? FinalPathElsewhere : nullptr);
    InitLogging(path);
    LOG_AT(INFO, "wWinMain", 131) << "Start install.";
    platform::SetFinalPathQueryForTesting(nullptr);
    platform::SetOwnerQueryForTesting(nullptr);
    ResetLoggingForTesting();
    const std::wstring log = ReadLog(file);
    EXPECT_EQ(c.written, log.find(L"INFO: wWinMain (131): Start install.\n") != std::wstring::npos);
    if (c.written) {
      EXPECT_EQ(L'\xFEFF', log[0]);
    } else {
      // As it was: a file that this open made where it should not is gone again.
      EXPECT_EQ(c.exists ? before : std::string(), test_support::ReadFileBytes(file));
      EXPECT_EQ(c.exists, GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES);
    }
  }
}

// What no link test under Wine can show: the refusal by attributes and names.
TEST(LoggingOwnerTest, OnlyOrdinaryFilesWithOneName) {
  const struct {
    uint32_t attributes, links;
    bool ordinary;
  } kFiles[] = {
      {FILE_ATTRIBUTE_ARCHIVE, 1, true}, {FILE_ATTRIBUTE_NORMAL, 1, true},
      {FILE_ATTRIBUTE_DIRECTORY, 1, false},
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, false},    // a symbolic link
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 1, false},  // a junction
      {FILE_ATTRIBUTE_ARCHIVE, 2, false},                                   // a hard link
  };
  for (const auto& c : kFiles) {
    EXPECT_EQ(c.ordinary, IsOrdinaryLogFile(c.attributes, c.links)) << c.attributes << " " << c.links;
  }
}

// The elevated child writes only through the handle its master published, and only when the
// duplicate is the log: a forged value (another file of the master's, no file at all) or a
// slot of another master drops the line and counts it; the log's name in another folder than
// the child would expect (a TEMP under a junction) is the log. The master here is this process.
TEST(LoggingBorrowedTest, WritesOnlyThroughTheMastersHandleToTheLog) {
  test_support::ScopedTempDir dir;
  const std::wstring path = dir.File(L"lite_installer.log");
  const std::wstring other = dir.File(L"other.txt");
  ASSERT_TRUE(test_support::WriteFileBytes(other, "x"));
  auto open = [](const std::wstring& name) {
    return CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, 0, nullptr);
  };
  platform::ScopedKernelHandle log(open(path));
  platform::ScopedKernelHandle forged(open(other));
  platform::ScopedKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const uint32_t self = GetCurrentProcessId();
  const struct {
    HANDLE published;
    uint32_t process_id;
    bool written;
    platform::FinalPathQuery final_path = nullptr;
  } kCases[] = {
      {log.get(), self, true},      {forged.get(), self, false},
      {event.get(), self, false},   {log.get(), self + 4, false},
      {log.get(), self, true, FinalPathElsewhere},
  };
  int line = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(line);
    ResetLoggingForTesting();
    installer::PublishLogHandle(c.process_id,
                                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(c.published)));
    InitBorrowedLogging(path, self);
    platform::SetFinalPathQueryForTesting(c.final_path);
    LOG_AT(INFO, "ExecuteAsAdmin", ++line) << "borrowed";
    platform::SetFinalPathQueryForTesting(nullptr);
    EXPECT_EQ(c.written ? 0u : 1u, DroppedLineCount());
    EXPECT_EQ(c.written, ReadLog(path).find(L"ExecuteAsAdmin (" + std::to_wstring(line) +
                                            L"): borrowed\n") != std::wstring::npos);
  }
  ResetLoggingForTesting();
  installer::PublishLogHandle(0, 0);
  EXPECT_EQ("x", test_support::ReadFileBytes(other));
}

// Any process can create and hold the log's named mutex first: lines are still written, a
// process waits for it once, not per line, and only the rotation of a full log stays undone.
// A mutex left by a process that died holding it is taken.
struct MutexHolder {
  HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  bool let_go = true;  // false: the thread ends holding the mutex (abandoned)
};

DWORD WINAPI HoldLogMutex(void* context) {
  auto* holder = static_cast<MutexHolder*>(context);
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"3E40F524-16FA-440A-B919-B44AB355B174");
  WaitForSingleObject(mutex, INFINITE);
  SetEvent(holder->taken);
  WaitForSingleObject(holder->release, INFINITE);
  if (holder->let_go) ReleaseMutex(mutex);
  CloseHandle(mutex);
  return 0;
}

TEST_F(LoggingTest, MutexHeldElsewhereNeitherDropsNorHoldsLinesAndOnlyStopsTheRotation) {
  for (bool abandoned : {false, true}) {
    SCOPED_TRACE(abandoned ? "abandoned" : "busy");
    ResetLoggingForTesting();
    InitLogging(path_);
    ASSERT_TRUE(test_support::WriteFileBytes(path_, std::string(kMaxLogSize, 'x')));
    DeleteFileW((path_ + L".old").c_str());
    MutexHolder holder;
    holder.let_go = !abandoned;
    HANDLE thread = CreateThread(nullptr, 0, HoldLogMutex, &holder, 0, nullptr);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(holder.taken, 10000));
    if (abandoned) {
      SetEvent(holder.release);
      WaitForSingleObject(thread, 10000);
    }
    for (int i = 0; i < 5; ++i) LOG_AT(INFO, "Test", 1) << "held elsewhere";
    EXPECT_EQ(abandoned ? 0u : 1u, MutexTimeoutsForTesting());
    SetEvent(holder.release);
    WaitForSingleObject(thread, 10000);
    const std::wstring log = ReadLog(path_);
    size_t lines = 0;
    for (size_t at = log.find(L"held elsewhere"); at != std::wstring::npos;
         at = log.find(L"held elsewhere", at + 1)) {
      ++lines;
    }
    EXPECT_EQ(5u, lines);
    EXPECT_EQ(abandoned, GetFileAttributesW((path_ + L".old").c_str()) != INVALID_FILE_ATTRIBUTES);
    CloseHandle(thread);
    CloseHandle(holder.taken);
    CloseHandle(holder.release);
  }
}

TEST(LoggingInitTest, LinesBeforeInitAreLostAndTheFirstPathWins) {
  ResetLoggingForTesting();
  test_support::ScopedTempDir dir;
  LOG_AT(INFO, "Test", 5) << "lost";
  InitLogging(dir.File(L"a.log"));
  InitLogging(dir.File(L"b.log"));
  LOG_AT(INFO, "Test", 6) << "kept";
  EXPECT_EQ(dir.File(L"a.log"), LogPath());
  std::wstring log = ReadLog(dir.File(L"a.log"));
  EXPECT_EQ(std::wstring::npos, log.find(L"lost"));
  EXPECT_NE(std::wstring::npos, log.find(L"kept"));
  EXPECT_TRUE(test_support::ReadFileBytes(dir.File(L"b.log")).empty());
  ResetLoggingForTesting();
}

TEST(FormatSetupExitCodeTest, SplitsStatusAndDetail) {
  struct Case {
    uint32_t code;
    const wchar_t* text;
  } cases[] = {
      {0, L"SUCCESS_EXIT_CODE(0); error: 0"},
      {0x01000005, L"GENERIC_ERROR(1); error: 5"},
      {(101u << 24) | 0xFFFFFF, L"GENERIC_INITIALIZATION_FAILURE(101); error: 16777215"},
      {117u << 24, L"UNABLE_TO_SET_DIRECTORY_ACL(117); error: 0"},
      {3, L"SUCCESS_EXIT_CODE(0); error: 3"},
      {114u << 24, L"Exit code: 114; error: 0"},
      {0xFFFFFFFF, L"Exit code: 255; error: 16777215"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, FormatSetupExitCode(c.code)) << c.code;
}

}  // namespace
}  // namespace logging
