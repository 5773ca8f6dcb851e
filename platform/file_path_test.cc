#include "platform/file_path.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

struct PathCase {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(FilePathTest, StripTrailingSeparatorsKeepsRoots) {
  const PathCase cases[] = {
      {L"", L""},
      {L"C:\\dir\\", L"C:\\dir"},
      {L"C:\\dir\\\\/", L"C:\\dir"},
      {L"C:\\dir", L"C:\\dir"},
      {L"C:\\", L"C:\\"},
      {L"C:\\\\", L"C:\\"},
      {L"C:", L"C:"},
      {L"\\", L"\\"},
      {L"\\\\", L"\\"},
      {L"/", L"/"},
      {L"a/", L"a"},
      {L"a", L"a"},
      {L"\\\\server\\share\\", L"\\\\server\\share"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).StripTrailingSeparators().value()) << c.input;
  }
}

TEST(FilePathTest, BaseNameIsTheLastComponent) {
  const PathCase cases[] = {
      {L"C:\\dir\\lite_installer.exe", L"lite_installer.exe"},
      {L"C:\\dir\\sub\\", L"sub"},
      {L"C:/dir/sub", L"sub"},
      {L"C:\\dir", L"dir"},
      {L"C:\\", L"\\"},
      {L"C:", L""},
      {L"C:file", L"file"},
      {L"file", L"file"},
      {L"\\", L"\\"},
      {L"", L""},
      {L"\\\\server\\share", L"share"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).BaseName().value()) << c.input;
  }
}

TEST(FilePathTest, DirNameIsEverythingBeforeTheLastComponent) {
  const PathCase cases[] = {
      {L"C:\\dir\\lite_installer.exe", L"C:\\dir"},
      {L"C:\\dir\\sub\\", L"C:\\dir"},
      {L"C:\\dir\\\\sub", L"C:\\dir"},
      {L"C:/dir/sub", L"C:/dir"},
      {L"C:\\dir", L"C:\\"},
      {L"C:\\", L"C:\\"},
      {L"C:file", L"C:"},
      {L"C:", L"C:"},
      {L"\\dir", L"\\"},
      {L"\\", L"\\"},
      {L"file", L"."},
      {L"", L"."},
      {L"a\\b", L"a"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.input).DirName().value()) << c.input;
  }
}

TEST(FilePathTest, AppendInsertsExactlyOneSeparator) {
  struct AppendCase {
    const wchar_t* base;
    const wchar_t* component;
    const wchar_t* expected;
  };
  const AppendCase cases[] = {
      {L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"},
      {L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"},
      {L"C:\\dir\\\\", L"\\file.txt", L"C:\\dir\\file.txt"},
      {L"C:\\dir/", L"/sub/file", L"C:\\dir\\sub/file"},
      {L"C:\\", L"file", L"C:\\file"},
      {L"C:", L"file", L"C:file"},
      {L"\\", L"file", L"\\file"},
      {L"", L"file", L"file"},
      {L"", L"\\file", L"\\file"},
      {L"C:\\dir", L"", L"C:\\dir"},
      {L"C:\\dir\\", L"", L"C:\\dir\\"},
      {L"C:\\dir", L"\\\\", L"C:\\dir"},
      {L"dir", L"*.dll", L"dir\\*.dll"},
  };
  for (const AppendCase& c : cases) {
    EXPECT_EQ(c.expected, FilePath(c.base).Append(c.component).value())
        << c.base << L" + " << c.component;
  }
  EXPECT_EQ(L"a\\b\\c", FilePath(L"a").Append(FilePath(L"b")).Append(L"c").value());
}

TEST(FilePathTest, ReferencesParentLooksAtEveryComponent) {
  struct ParentCase {
    const wchar_t* path;
    bool references_parent;
  };
  const ParentCase cases[] = {
      {L"..", true},
      {L"..\\file", true},
      {L"C:\\dir\\..\\file", true},
      {L"C:/dir/../file", true},
      {L"C:\\dir\\..", true},
      {L"C:\\dir\\..\\", true},
      // Windows trims trailing dots and spaces, so these climb as well.
      {L"C:\\dir\\.. \\file", true},
      {L"C:\\dir\\ ..\\file", true},
      {L"C:\\dir\\...\\file", true},
      {L"C:\\dir\\file", false},
      {L"C:\\dir\\.\\file", false},
      {L"C:\\dir\\..file", false},
      {L"C:\\dir\\file..", false},
      {L"C:\\dir\\a..b\\file", false},
      {L"C:\\dir\\. \\file", false},
      {L"", false},
      {L".", false},
  };
  for (const ParentCase& c : cases) {
    EXPECT_EQ(c.references_parent, FilePath(c.path).ReferencesParent()) << c.path;
  }
}

TEST(FilePathTest, ComparesAsText) {
  EXPECT_EQ(FilePath(L"C:\\a"), FilePath(L"C:\\a"));
  EXPECT_NE(FilePath(L"C:\\a"), FilePath(L"c:\\a"));
  EXPECT_NE(FilePath(L"C:\\a"), FilePath(L"C:\\a\\"));
  EXPECT_TRUE(FilePath(L"C:\\a") < FilePath(L"C:\\b"));
  EXPECT_TRUE(FilePath().empty());
  FilePath copy = FilePath(L"C:\\x");
  FilePath other = copy;
  EXPECT_EQ(L"C:\\x", other.value());
}

}  // namespace
}  // namespace platform
