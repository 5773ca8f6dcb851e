// Log lines of the install flow that are written in many places: a fixed text, or a text
// followed by a path. Each is one call, so a call site carries no line of its own to build
// and destroy; the line is the same as `LOG_AT(severity, tag, line) << text [<< path]`.
#ifndef INSTALL_LOG_LINES_H_
#define INSTALL_LOG_LINES_H_

#include <string>

#include "platform/logging.h"

namespace installer {

// Writes `text` (narrow, widened like any LOG text) as a line of `tag` at `line`.
void LogText(logging::Severity severity, const char* tag, int line, const char* text);
// Writes `text` followed by `path`.
void LogWithPath(logging::Severity severity, const char* tag, int line, const char* text,
                 const std::wstring& path);

}  // namespace installer

#endif  // INSTALL_LOG_LINES_H_
