#include "platform/base64.h"

#include <cstdint>
#include <utility>

namespace platform {
namespace {

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of one alphabet character, or -1.
int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t group = (static_cast<uint8_t>(bytes[i]) << 16) |
                     (static_cast<uint8_t>(bytes[i + 1]) << 8) | static_cast<uint8_t>(bytes[i + 2]);
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(kAlphabet[(group >> 6) & 63]);
    out.push_back(kAlphabet[group & 63]);
  }
  size_t rest = bytes.size() - i;
  if (rest == 1) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.append("==");
  } else if (rest == 2) {
    uint32_t group = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(kAlphabet[(group >> 6) & 63]);
    out.push_back('=');
  }
  return out;
}

bool Base64Decode(std::string_view text, std::string* out) {
  if (text.size() % 4 != 0) return false;
  std::string result;
  result.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int padding = 0;
    if (last && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
    uint32_t group = 0;
    for (int k = 0; k < 4; ++k) {
      int value = 0;
      if (k < 4 - padding) {
        value = DecodeChar(text[i + k]);
        if (value < 0) return false;  // also "=" anywhere but the end
      }
      group = (group << 6) | static_cast<uint32_t>(value);
    }
    result.push_back(static_cast<char>((group >> 16) & 0xFF));
    if (padding == 2) {
      if ((group & 0xFFFF) != 0) return false;
      break;
    }
    result.push_back(static_cast<char>((group >> 8) & 0xFF));
    if (padding == 1) {
      if ((group & 0xFF) != 0) return false;
      break;
    }
    result.push_back(static_cast<char>(group & 0xFF));
  }
  *out = std::move(result);
  return true;
}

}  // namespace platform
