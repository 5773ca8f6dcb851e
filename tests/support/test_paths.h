// Paths and folders for tests: the build folder as Windows sees it under Wine, and unique
// temporary folders that are removed again.
#ifndef TESTS_SUPPORT_TEST_PATHS_H_
#define TESTS_SUPPORT_TEST_PATHS_H_

#include <string>

namespace test_support {

// A Unix path of the build machine as a Windows path ("Z:\..." under Wine).
std::wstring HostPathToWindows(const std::string& unix_path);
// A file in the build folder, e.g. BuildFile(L"lite_installer.exe").
std::wstring BuildFile(const std::wstring& relative);
// A file in the source folder.
std::wstring SourceFile(const std::wstring& relative);

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// A fresh folder under the temporary folder, deleted with everything in it at destruction.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // The folder, without a trailing separator.
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_TEST_PATHS_H_
