#include "platform/system_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/fatal.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_internet_api.h"
#include "tests/support/faults.h"
#include "tests/support/test_log.h"

namespace platform {
namespace {

// The ends the entry installs first thing: an unguarded delay-load failure ends every run with
// 405, any other unhandled exception only a run without a window, with its own code; each
// leaves one line in the log, which the end opens itself. Made-up delay-load information is
// not followed.
TEST(SystemLibraryDeathTest, UnhandledExceptionsEndWithTheirCodeAndOneLine) {
  struct Case {
    const char* name;
    bool silent;
    void (*raise)();
    DWORD exit_code;
    const wchar_t* line;
  } cases[] = {
      {"missing function", false,
       [] { test_support::RaiseDelayLoadFailure("gdiplus.dll", "GdipGone", 0, 0xC06D007F); },
       405, L"No such function in the system library gdiplus.dll for GdipGone; the process"},
      {"missing library, by ordinal", false,
       [] { test_support::RaiseDelayLoadFailure("gone.dll", nullptr, 7); }, 405,
       L"Cannot load the system library gone.dll for #7; the process stops with exit code 405."},
      {"silent run, access violation", true, [] { test_support::WriteThroughNull(); },
       0xC0000005, L"ERROR: UnhandledException ("},
      {"silent run, made-up delay-load information", true,
       [] {
         ULONG_PTR bogus[1] = {0x10};
         RaiseException(0xC06D007E, 0, 1, bogus);
       },
       0xC06D007E, L"Unhandled exception 0xc06d007e at 0x"},
  };
  const std::wstring log = test_support::DeathTestLogPath();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          SetFatalLogOpener(test_support::OpenDeathTestLog);
          EndProcessOnUnguardedDelayLoadFailure();
          if (c.silent) EndSilentRunOnUnhandledException();
          c.raise();
        },
        testing::ExitedWithCode(static_cast<int>(c.exit_code)), "");
    EXPECT_EQ(1, test_support::CountContaining(test_support::ReadUtf16Lines(log), c.line));
  }
  test_support::ForgetDeathTestLog();
}

}  // namespace
}  // namespace platform
