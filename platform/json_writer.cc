#include "platform/json_writer.h"

#include "platform/strings.h"

namespace platform {
namespace {

// Quotes `text`, escaping the quote, the backslash and control characters; everything else,
// non-ASCII included, stays as it is.
void AppendQuoted(std::string_view text, std::string* out) {
  out->push_back('"');
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const char* escape = nullptr;
    switch (c) {
      case '"': escape = "\\\""; break;
      case '\\': escape = "\\\\"; break;
      case '\b': escape = "\\b"; break;
      case '\f': escape = "\\f"; break;
      case '\n': escape = "\\n"; break;
      case '\r': escape = "\\r"; break;
      case '\t': escape = "\\t"; break;
      default: break;
    }
    if (escape != nullptr) {
      out->append(escape);
    } else if (byte < 0x20) {
      out->append("\\u00");
      out->push_back(kUpperHexDigits[byte >> 4]);
      out->push_back(kUpperHexDigits[byte & 15]);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

}  // namespace

bool JsonObjectWriter::Add(std::string_view key, std::string_view value) {
  if (!IsValidUtf8(key) || !IsValidUtf8(value)) return false;
  if (!members_.empty()) members_.append(indent_ > 0 ? "," : ", ");
  if (indent_ > 0) members_.append("\n").append(indent_, ' ');
  AppendQuoted(key, &members_);
  members_.append(": ");
  AppendQuoted(value, &members_);
  return true;
}

std::string JsonObjectWriter::Text() const {
  if (members_.empty()) return "{}";
  return "{" + members_ + (indent_ > 0 ? "\n}" : "}");
}

}  // namespace platform
