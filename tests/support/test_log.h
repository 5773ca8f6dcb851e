// The shared log, pointed at a private file for the lifetime of one test.
#ifndef TESTS_SUPPORT_TEST_LOG_H_
#define TESTS_SUPPORT_TEST_LOG_H_

#include <string>
#include <string_view>

#include "tests/support/test_paths.h"

namespace test_support {

// Sends the log to a fresh file in its own temporary folder; the logger is reset again at
// destruction. One per test at a time.
class ScopedTestLog {
 public:
  ScopedTestLog();
  ~ScopedTestLog();
  ScopedTestLog(const ScopedTestLog&) = delete;
  ScopedTestLog& operator=(const ScopedTestLog&) = delete;

  const std::wstring& path() const { return path_; }
  // The whole log as text (without the byte-order mark); empty when nothing was written.
  std::wstring Text() const;
  // Whether some line holds `fragment`.
  bool Contains(std::wstring_view fragment) const;
  // How many lines hold `fragment` (each line with its final "\n").
  int CountLines(std::wstring_view fragment) const;

 private:
  ScopedTempDir dir_;
  std::wstring path_;
};

// The log of a death test's child. The child runs the test body again up to the death
// statement, so the parent's unique file name reaches it through the environment, which it
// inherits: every call in one test, in either process, names the same file.
std::wstring DeathTestLogPath();
// Opens the log there (for platform::SetFatalLogOpener inside the death statement).
void OpenDeathTestLog();
// Deletes that file and forgets its name; the parent calls it once its checks are done.
void ForgetDeathTestLog();

}  // namespace test_support

#endif  // TESTS_SUPPORT_TEST_LOG_H_
