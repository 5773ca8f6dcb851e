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

}  // namespace test_support

#endif  // TESTS_SUPPORT_TEST_LOG_H_
