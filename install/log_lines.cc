#include "install/log_lines.h"

namespace installer {

void LogText(logging::Severity severity, const char* tag, int line, const char* text) {
  logging::LogLine(severity, tag, line) << text;
}

void LogWithPath(logging::Severity severity, const char* tag, int line, const char* text,
                 const std::wstring& path) {
  logging::LogLine(severity, tag, line) << text << path;
}

}  // namespace installer
