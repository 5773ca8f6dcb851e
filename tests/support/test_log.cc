#include "tests/support/test_log.h"

#include <windows.h>

#include "platform/logging.h"
#include "platform/strings.h"
#include "tests/support/publisher_log.h"

namespace test_support {

namespace {
constexpr wchar_t kDeathTestLogVariable[] = L"LI_TEST_DEATH_LOG";
}  // namespace

std::wstring DeathTestLogPath() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(kDeathTestLogVariable, path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return path;
  GetTempPathW(MAX_PATH, path);
  const std::wstring log = path + platform::Widen(UniqueMarker()) + L".log";
  SetEnvironmentVariableW(kDeathTestLogVariable, log.c_str());
  return log;
}

void OpenDeathTestLog() { logging::InitLogging(DeathTestLogPath()); }

void ForgetDeathTestLog() {
  DeleteFileW(DeathTestLogPath().c_str());
  SetEnvironmentVariableW(kDeathTestLogVariable, nullptr);
}

ScopedTestLog::ScopedTestLog() : path_(dir_.File(L"lite_installer.log")) {
  logging::ResetLoggingForTesting();
  logging::InitLogging(path_);
}

ScopedTestLog::~ScopedTestLog() { logging::ResetLoggingForTesting(); }

std::wstring ScopedTestLog::Text() const {
  std::string bytes = ReadFileBytes(path_);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  if (!text.empty() && text[0] == L'\xFEFF') text.erase(0, 1);
  return text;
}

bool ScopedTestLog::Contains(std::wstring_view fragment) const {
  return Text().find(fragment) != std::wstring::npos;
}

int ScopedTestLog::CountLines(std::wstring_view fragment) const {
  std::wstring text = Text();
  int count = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    // The line keeps its "\n", so a fragment can pin down how a line ends.
    end = end == std::wstring::npos ? text.size() : end + 1;
    if (std::wstring_view(text).substr(start, end - start).find(fragment) !=
        std::wstring_view::npos) {
      ++count;
    }
    start = end;
  }
  return count;
}

}  // namespace test_support
