#include "platform/file_util.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/strings.h"
#include "platform/windows_version.h"
#include "tests/support/test_paths.h"

namespace platform {
namespace {

using test_support::ScopedTempDir;

bool MakeFile(const std::wstring& path, const std::string& bytes = "x") {
  return test_support::WriteFileBytes(path, bytes);
}

bool MakeFolder(const std::wstring& path) { return CreateDirectoryW(path.c_str(), nullptr) != 0; }

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetReadOnly(const std::wstring& path) {
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
}

// A path of exactly `length` characters inside `dir`.
std::wstring PathOfLength(const ScopedTempDir& dir, size_t length) {
  std::wstring prefix = dir.path() + L"\\";
  return prefix + std::wstring(length - prefix.size(), L'n');
}

// "<prefix><pid>_<n>" with 0 <= n <= 32767.
bool IsTempFolderName(const std::wstring& name, const std::wstring& prefix) {
  std::wstring stem = prefix + ToWString(static_cast<unsigned long>(GetCurrentProcessId())) + L"_";
  if (name.compare(0, stem.size(), stem) != 0) return false;
  uint64_t number = 0;
  return StringToUint64(std::wstring_view(name).substr(stem.size()), &number) && number <= 32767;
}

TEST(FileUtilTest, IsPresentForFilesAndFolders) {
  ScopedTempDir dir;
  ASSERT_TRUE(MakeFile(dir.File(L"file.txt")));
  ASSERT_TRUE(MakeFolder(dir.File(L"folder")));
  EXPECT_TRUE(IsPresent(FilePath(dir.File(L"file.txt"))));
  EXPECT_TRUE(IsPresent(FilePath(dir.File(L"folder"))));
  EXPECT_TRUE(IsPresent(FilePath(dir.path())));
  EXPECT_FALSE(IsPresent(FilePath(dir.File(L"missing"))));
  EXPECT_FALSE(IsPresent(FilePath(dir.File(L"missing\\deeper"))));
}

TEST(FileUtilTest, TempFolderHasNoTrailingSeparatorAndExists) {
  FilePath folder;
  ASSERT_TRUE(TempFolder(&folder));
  ASSERT_FALSE(folder.empty());
  EXPECT_FALSE(FilePath::IsSeparator(folder.value().back())) << folder.value();
  EXPECT_TRUE(IsPresent(folder));
  EXPECT_LT(folder.value().size(), FilePath::kMaxPath);
}

TEST(FileUtilTest, OwnExecutablePathNamesTheRunningProgram) {
  const FilePath own = OwnExecutablePath();
  EXPECT_TRUE(IsPresent(own)) << own.value();
  EXPECT_EQ(L"platform_tests.exe", own.BaseName().value());
}

TEST(FileUtilTest, MakeTempFileInCreatesAnEmptyFileWithThePrefix) {
  ScopedTempDir dir;
  FilePath first, second;
  ASSERT_TRUE(MakeTempFileIn(FilePath(dir.path()), L"lit", &first));
  ASSERT_TRUE(MakeTempFileIn(FilePath(dir.path()), L"lit", &second));
  EXPECT_NE(first, second);
  for (const FilePath& file : {first, second}) {
    EXPECT_EQ(FilePath(dir.path()), file.DirName());
    std::wstring name = ToLowerAscii(file.BaseName().value());
    EXPECT_EQ(0u, name.find(L"lit")) << name;
    EXPECT_EQ(name.size() - 4, name.rfind(L".tmp")) << name;
    EXPECT_TRUE(Exists(file.value()));
    EXPECT_EQ("", test_support::ReadFileBytes(file.value()));
  }
}

TEST(FileUtilTest, MakeTempFileInReturnsTheLongForm) {
  ScopedTempDir dir;
  std::wstring long_folder = dir.File(L"a folder with a long name");
  ASSERT_TRUE(MakeFolder(long_folder));
  wchar_t short_folder[MAX_PATH];
  DWORD length = GetShortPathNameW(long_folder.c_str(), short_folder, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_NE(long_folder, std::wstring(short_folder, length));
  FilePath file;
  ASSERT_TRUE(MakeTempFileIn(FilePath(std::wstring(short_folder, length)), L"lit", &file));
  EXPECT_EQ(FilePath(long_folder), file.DirName());
}

TEST(FileUtilTest, MakeTempFileInFailsInAMissingFolder) {
  ScopedTempDir dir;
  FilePath file(L"untouched");
  EXPECT_FALSE(MakeTempFileIn(FilePath(dir.File(L"missing")), L"lit", &file));
  EXPECT_NE(ERROR_SUCCESS, GetLastError());
  EXPECT_EQ(L"untouched", file.value());
}

// GetTempFileNameW returns the number it put into the name; 111 is one of them.
class FixedNamer : public TempFileNamer {
 public:
  FixedNamer(UINT result, std::wstring name) : result_(result), name_(std::move(name)) {}
  UINT MakeName(const wchar_t* folder, const wchar_t* prefix, wchar_t* name) override {
    lstrcpynW(name, name_.c_str(), FilePath::kMaxPath);
    if (result_ != 0) MakeFile(name_, "");
    SetLastError(result_ == 0 ? ERROR_DIRECTORY : ERROR_SUCCESS);
    return result_;
  }

 private:
  UINT result_;
  std::wstring name_;
};

TEST(FileUtilTest, MakeTempFileInTakesEveryNonZeroNumber) {
  ScopedTempDir dir;
  struct Case {
    UINT result;
    bool ok;
  };
  const Case cases[] = {{111, true}, {1, true}, {0xFFFF, true}, {0, false}};
  for (const Case& c : cases) {
    std::wstring name = dir.File(L"lit" + ToWString(c.result) + L".tmp");
    FixedNamer namer(c.result, name);
    FilePath file(L"untouched");
    EXPECT_EQ(c.ok, MakeTempFileInForTesting(FilePath(dir.path()), L"lit", &namer, &file))
        << c.result;
    EXPECT_EQ(c.ok ? name : L"untouched", file.value());
    if (!c.ok) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_DIRECTORY), GetLastError());
    }
  }
}

TEST(FileUtilTest, MakeTempFolderInNamesTheFolderAfterTheProcess) {
  ScopedTempDir dir;
  FilePath first, second;
  ASSERT_TRUE(MakeTempFolderIn(FilePath(dir.path()), L"pre_", &first));
  ASSERT_TRUE(MakeTempFolderIn(FilePath(dir.path()), L"pre_", &second));
  EXPECT_NE(first, second);
  for (const FilePath& folder : {first, second}) {
    EXPECT_EQ(FilePath(dir.path()), folder.DirName());
    EXPECT_TRUE(IsTempFolderName(folder.BaseName().value(), L"pre_")) << folder.value();
    DWORD attributes = GetFileAttributesW(folder.value().c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
}

TEST(FileUtilTest, MakeTempFolderCreatesInTheTemporaryFolder) {
  FilePath folder;
  ASSERT_TRUE(MakeTempFolder(L"", &folder));
  FilePath temp;
  ASSERT_TRUE(TempFolder(&temp));
  EXPECT_EQ(temp, folder.DirName());
  EXPECT_TRUE(IsTempFolderName(folder.BaseName().value(), L""));
  EXPECT_TRUE(RemoveDirectoryW(folder.value().c_str()));
}

class RecordingCreator : public FolderCreator {
 public:
  explicit RecordingCreator(int succeed_at) : succeed_at_(succeed_at) {}
  bool CreateFolder(const FilePath& path) override {
    attempts.push_back(path);
    if (static_cast<int>(attempts.size()) == succeed_at_) return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  std::vector<FilePath> attempts;

 private:
  int succeed_at_;
};

TEST(FileUtilTest, MakeTempFolderInGivesUpAfterFiftyAttempts) {
  RecordingCreator creator(0);
  FilePath folder(L"untouched");
  EXPECT_FALSE(MakeTempFolderIn(FilePath(L"C:\\base"), L"x", &creator, &folder));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  EXPECT_EQ(L"untouched", folder.value());
  ASSERT_EQ(50u, creator.attempts.size());
  for (const FilePath& attempt : creator.attempts) {
    EXPECT_EQ(FilePath(L"C:\\base"), attempt.DirName());
    EXPECT_TRUE(IsTempFolderName(attempt.BaseName().value(), L"x")) << attempt.value();
  }
}

TEST(FileUtilTest, MakeTempFolderInKeepsTryingUntilOneIsCreated) {
  RecordingCreator creator(3);
  FilePath folder;
  EXPECT_TRUE(MakeTempFolderIn(FilePath(L"C:\\base"), L"x", &creator, &folder));
  ASSERT_EQ(3u, creator.attempts.size());
  EXPECT_EQ(creator.attempts[2], folder);
}

TEST(FileUtilTest, MakeTempFolderInFailsInAMissingBase) {
  ScopedTempDir dir;
  FilePath folder(L"untouched");
  EXPECT_FALSE(MakeTempFolderIn(FilePath(dir.File(L"missing")), L"x", &folder));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ(L"untouched", folder.value());
}

TEST(FileUtilTest, CopyFileToRefusesParentReferencesAndLongPaths) {
  ScopedTempDir dir;
  ASSERT_TRUE(MakeFolder(dir.File(L"sub")));
  ASSERT_TRUE(MakeFile(dir.File(L"source.exe"), "payload"));
  std::wstring long_target = PathOfLength(dir, FilePath::kMaxPath);
  struct Case {
    std::wstring from;
    std::wstring to;
    DWORD error;
  };
  const Case cases[] = {
      {dir.File(L"sub\\..\\source.exe"), dir.File(L"a.exe"), ERROR_BAD_PATHNAME},
      {dir.File(L"source.exe"), dir.File(L"sub\\..\\b.exe"), ERROR_BAD_PATHNAME},
      {dir.File(L"source.exe"), dir.File(L"sub\\.. \\c.exe"), ERROR_BAD_PATHNAME},
      {dir.File(L"source.exe"), long_target, ERROR_FILENAME_EXCED_RANGE},
      {long_target, dir.File(L"d.exe"), ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CopyFileTo(FilePath(c.from), FilePath(c.to))) << c.to;
    EXPECT_EQ(c.error, GetLastError()) << c.to;
  }
  for (const wchar_t* name : {L"a.exe", L"b.exe", L"c.exe", L"d.exe"}) {
    EXPECT_FALSE(Exists(dir.File(name))) << name;
  }
  // A path one character shorter is fine.
  std::wstring shorter = PathOfLength(dir, FilePath::kMaxPath - 1);
  EXPECT_TRUE(CopyFileTo(FilePath(dir.File(L"source.exe")), FilePath(shorter)));
  EXPECT_EQ("payload", test_support::ReadFileBytes(shorter));
}

TEST(FileUtilTest, CopyFileToOverwritesAndClearsReadOnly) {
  ScopedTempDir dir;
  std::wstring source = dir.File(L"source.exe");
  std::wstring target = dir.File(L"target.exe");
  ASSERT_TRUE(MakeFile(source, "new contents"));
  SetReadOnly(source);
  ASSERT_TRUE(MakeFile(target, "old"));
  ASSERT_TRUE(CopyFileTo(FilePath(source), FilePath(target)));
  EXPECT_EQ("new contents", test_support::ReadFileBytes(target));
  DWORD attributes = GetFileAttributesW(target.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
  // The source keeps its attribute.
  EXPECT_TRUE(GetFileAttributesW(source.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileUtilTest, CopyFileToFailsForAMissingSource) {
  ScopedTempDir dir;
  EXPECT_FALSE(CopyFileTo(FilePath(dir.File(L"missing")), FilePath(dir.File(L"target"))));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_FALSE(Exists(dir.File(L"target")));
}

TEST(FileUtilTest, DeletePathOfNothingSucceeds) {
  ScopedTempDir dir;
  const std::wstring cases[] = {
      L"",
      dir.File(L"missing"),
      dir.File(L"missing\\deeper"),
      dir.File(L"*.nothing"),
      dir.File(L"missing\\*.txt"),
  };
  for (const std::wstring& path : cases) {
    EXPECT_TRUE(DeletePath(FilePath(path), false)) << path;
    EXPECT_TRUE(DeletePath(FilePath(path), true)) << path;
  }
}

TEST(FileUtilTest, DeletePathRefusesLongPathsWithoutTouchingTheDisk) {
  ScopedTempDir dir;
  std::wstring long_path = PathOfLength(dir, FilePath::kMaxPath);
  // Only the extended-length form can make such a file.
  std::wstring extended = L"\\\\?\\" + long_path;
  ASSERT_TRUE(MakeFile(extended));
  EXPECT_FALSE(DeletePath(FilePath(long_path), false));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
  EXPECT_FALSE(DeletePath(FilePath(long_path), true));
  EXPECT_TRUE(Exists(extended));
  EXPECT_FALSE(DeletePathAtReboot(FilePath(long_path)));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
  EXPECT_TRUE(DeleteFileW(extended.c_str()));
}

TEST(FileUtilTest, DeletePathRemovesReadOnlyFiles) {
  ScopedTempDir dir;
  std::wstring file = dir.File(L"locked.txt");
  ASSERT_TRUE(MakeFile(file));
  SetReadOnly(file);
  EXPECT_TRUE(DeletePath(FilePath(file), false));
  EXPECT_FALSE(Exists(file));
}

TEST(FileUtilTest, DeletePathRemovesFoldersOnlyWhenAskedToRecurse) {
  ScopedTempDir dir;
  std::wstring empty = dir.File(L"empty");
  std::wstring full = dir.File(L"full");
  ASSERT_TRUE(MakeFolder(empty));
  ASSERT_TRUE(MakeFolder(full));
  ASSERT_TRUE(MakeFolder(full + L"\\nested"));
  ASSERT_TRUE(MakeFile(full + L"\\a.txt"));
  ASSERT_TRUE(MakeFile(full + L"\\nested\\b.txt"));
  SetReadOnly(full + L"\\nested\\b.txt");

  EXPECT_TRUE(DeletePath(FilePath(empty), false));
  EXPECT_FALSE(Exists(empty));

  EXPECT_FALSE(DeletePath(FilePath(full), false));
  EXPECT_TRUE(Exists(full + L"\\a.txt"));

  EXPECT_TRUE(DeletePath(FilePath(full + L"\\"), true));
  EXPECT_FALSE(Exists(full));
}

TEST(FileUtilTest, DeletePathWithWildcardsDeletesTheMatchingEntries) {
  struct Case {
    const wchar_t* pattern;
    bool recursive;
    bool ok;
    std::vector<std::wstring> left;
  };
  const Case cases[] = {
      {L"*.log", false, true, {L"a.txt", L"b.txt", L"ab.txt", L"logs.d", L"keep"}},
      {L"?.txt", false, true, {L"ab.txt", L"one.log", L"two.log", L"logs.d", L"keep"}},
      {L"*", true, true, {}},
      // Without recursion a folder with contents stays, and that is a failure; everything
      // else matching is still deleted.
      {L"*", false, false, {L"keep"}},
      {L"*.none", false, true,
       {L"a.txt", L"b.txt", L"ab.txt", L"one.log", L"two.log", L"logs.d", L"keep"}},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"ab.txt", L"one.log", L"two.log"}) {
      ASSERT_TRUE(MakeFile(dir.File(name)));
    }
    SetReadOnly(dir.File(L"one.log"));
    ASSERT_TRUE(MakeFolder(dir.File(L"logs.d")));
    ASSERT_TRUE(MakeFolder(dir.File(L"keep")));
    ASSERT_TRUE(MakeFile(dir.File(L"keep\\inner.log")));

    EXPECT_EQ(c.ok, DeletePath(FilePath(dir.File(c.pattern)), c.recursive)) << c.pattern;
    std::vector<std::wstring> left;
    FolderWalker walker(FilePath(dir.path()), false, FolderWalker::kFiles | FolderWalker::kFolders);
    for (FilePath entry = walker.Next(); !entry.empty(); entry = walker.Next()) {
      left.push_back(entry.BaseName().value());
    }
    std::vector<std::wstring> expected = c.left;
    std::sort(left.begin(), left.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, left) << c.pattern;
    // The wildcard applies to the folder's own entries, not to those of its subfolders.
    if (!c.left.empty()) {
      EXPECT_TRUE(Exists(dir.File(L"keep\\inner.log"))) << c.pattern;
    }
  }
}

TEST(FileUtilTest, DeletePathAtRebootRegistersThePath) {
  ScopedTempDir dir;
  std::wstring file = dir.File(L"delete_me_later.exe");
  ASSERT_TRUE(MakeFile(file));
  ASSERT_TRUE(DeletePathAtReboot(FilePath(file)));
  EXPECT_TRUE(Exists(file));

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                          0, KEY_QUERY_VALUE, &key));
  DWORD size = 0;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                            nullptr, &size));
  std::wstring pending(size / sizeof(wchar_t), L'\0');
  ASSERT_EQ(ERROR_SUCCESS,
            RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(pending.data()), &size));
  RegCloseKey(key);
  // Entries are pairs of NT paths: the source, then an empty target for a deletion.
  std::wstring entry = L"\\??\\" + file;
  entry.push_back(L'\0');
  entry.push_back(L'\0');
  EXPECT_NE(std::wstring::npos, ToLowerAscii(pending).find(ToLowerAscii(entry)));
}

std::vector<std::wstring> Walk(const FilePath& root, bool recursive, int types,
                               const wchar_t* pattern) {
  std::vector<std::wstring> found;
  FolderWalker walker(root, recursive, types, pattern);
  for (FilePath entry = walker.Next(); !entry.empty(); entry = walker.Next()) {
    found.push_back(entry.value());
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(FileUtilTest, FolderWalkerFindsWhatThePatternAndTypesSelect) {
  ScopedTempDir dir;
  ASSERT_TRUE(MakeFile(dir.File(L"a.dll")));
  ASSERT_TRUE(MakeFile(dir.File(L"B.DLL")));
  ASSERT_TRUE(MakeFile(dir.File(L"c.txt")));
  ASSERT_TRUE(MakeFolder(dir.File(L"plugins.dll")));
  ASSERT_TRUE(MakeFolder(dir.File(L"sub")));
  ASSERT_TRUE(MakeFile(dir.File(L"sub\\d.dll")));
  ASSERT_TRUE(MakeFolder(dir.File(L"sub\\deep")));
  ASSERT_TRUE(MakeFile(dir.File(L"sub\\deep\\e.txt")));
  FilePath root(dir.path());
  const int kBoth = FolderWalker::kFiles | FolderWalker::kFolders;

  struct Case {
    bool recursive;
    int types;
    const wchar_t* pattern;
    std::vector<std::wstring> expected;
  };
  const Case cases[] = {
      {false, FolderWalker::kFiles, L"*.dll", {dir.File(L"B.DLL"), dir.File(L"a.dll")}},
      {false, FolderWalker::kFolders, L"*.dll", {dir.File(L"plugins.dll")}},
      {false, FolderWalker::kFiles, L"", {dir.File(L"B.DLL"), dir.File(L"a.dll"), dir.File(L"c.txt")}},
      {false, kBoth, L"*",
       {dir.File(L"B.DLL"), dir.File(L"a.dll"), dir.File(L"c.txt"), dir.File(L"plugins.dll"),
        dir.File(L"sub")}},
      {true, FolderWalker::kFiles, L"*",
       {dir.File(L"B.DLL"), dir.File(L"a.dll"), dir.File(L"c.txt"), dir.File(L"sub\\d.dll"),
        dir.File(L"sub\\deep\\e.txt")}},
      {true, FolderWalker::kFolders, L"",
       {dir.File(L"plugins.dll"), dir.File(L"sub"), dir.File(L"sub\\deep")}},
      // Only matching folders are descended into.
      {true, FolderWalker::kFiles, L"*.dll", {dir.File(L"B.DLL"), dir.File(L"a.dll")}},
      {false, FolderWalker::kFiles, L"*.none", {}},
  };
  for (int version_class : {kWindowsVista, kWindows10Build17604}) {
    WindowsVersionInfo info;
    info.version_class = version_class;
    ScopedWindowsVersionForTesting version(info);
    for (const Case& c : cases) {
      EXPECT_EQ(c.expected, Walk(root, c.recursive, c.types, c.pattern))
          << "pattern " << c.pattern << " recursive " << c.recursive << " types " << c.types
          << " class " << version_class;
    }
  }
}

TEST(FileUtilTest, FolderWalkerOfAMissingFolderEndsAtOnce) {
  ScopedTempDir dir;
  FolderWalker walker(FilePath(dir.File(L"missing")), true, FolderWalker::kFiles);
  EXPECT_TRUE(walker.Next().empty());
  EXPECT_TRUE(walker.Next().empty());
}

}  // namespace
}  // namespace platform
