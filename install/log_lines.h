// Log lines of the install flow that are written in many places: a fixed text, or a text
// followed by a wide value (a path, a URL, an error text). Each is one call, so a call site carries
// no line of its own to build and destroy; the line is the same as `LOG_AT(severity, tag, line) <<
// text [<< value]`.
#ifndef INSTALL_LOG_LINES_H_
#define INSTALL_LOG_LINES_H_

#include <string>

#include "platform/logging.h"

namespace installer {

// Writes `text` (narrow, widened like any LOG text) as a line of `tag` at `line`.
void LogText(logging::Severity severity, const char* tag, int line, const char* text);
// Writes `text` followed by `value`.
void LogWithValue(logging::Severity severity, const char* tag, int line, const char* text,
                  const std::wstring& value);

}  // namespace installer

#endif  // INSTALL_LOG_LINES_H_
