#include "install/log_lines.h"

namespace installer {

void LogText(logging::Severity severity, const char* tag, int line, const char* text) {
  logging::LogLine(severity, tag, line) << text;
}

void LogWithValue(logging::Severity severity, const char* tag, int line, const char* text,
                  const std::wstring& value) {
  logging::LogLine(severity, tag, line) << text << value;
}

}  // namespace installer
