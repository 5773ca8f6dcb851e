#include "tests/support/log_lines.h"

namespace test_support {

std::vector<std::wstring> LogMessagesOf(const ScopedTestLog& log, std::wstring_view function) {
  std::vector<std::wstring> messages;
  std::wstring text = log.Text();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring_view line = std::wstring_view(text).substr(start, end - start);
    start = end + 1;
    // "<date> <time> <<thread>> SEVERITY: function (line): message"
    size_t thread_end = line.find(L"> ");
    if (thread_end == std::wstring_view::npos) continue;
    std::wstring_view rest = line.substr(thread_end + 2);
    size_t severity_end = rest.find(L": ");
    size_t function_end = rest.find(L" (");
    size_t number_end = rest.find(L"): ");
    if (severity_end == std::wstring_view::npos || function_end == std::wstring_view::npos ||
        number_end == std::wstring_view::npos || function_end < severity_end) {
      continue;
    }
    std::wstring_view severity = rest.substr(0, severity_end);
    std::wstring_view name = rest.substr(severity_end + 2, function_end - severity_end - 2);
    std::wstring_view message = rest.substr(number_end + 3);
    if (function.empty()) {
      messages.push_back(std::wstring(severity) + L": " + std::wstring(name) + L": " +
                         std::wstring(message));
    } else if (name == function) {
      messages.push_back(std::wstring(severity) + L": " + std::wstring(message));
    }
  }
  return messages;
}

}  // namespace test_support
