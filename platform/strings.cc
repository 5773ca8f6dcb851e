#include "platform/strings.h"

#include <limits>
#include <utility>

namespace platform {

std::wstring Widen(std::string_view text) {
  std::wstring result;
  result.reserve(text.size());
  for (char c : text) result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return result;
}

std::string Narrow(std::wstring_view text) {
  std::string result;
  result.reserve(text.size());
  for (wchar_t c : text) result.push_back(static_cast<char>(c & 0xFF));
  return result;
}

namespace {

// Decodes one UTF-8 sequence starting at text[*pos]; false on any malformed input,
// overlong forms, surrogates and values above U+10FFFF.
bool DecodeUtf8(std::string_view text, size_t* pos, uint32_t* code_point) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(*pos);
  size_t length;
  uint32_t cp;
  if (lead < 0x80) {
    *code_point = lead;
    ++*pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return false;
  }
  if (text.size() - *pos < length) return false;
  for (size_t i = 1; i < length; ++i) {
    unsigned char c = byte(*pos + i);
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3F);
  }
  static const uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *code_point = cp;
  *pos += length;
  return true;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t pos = 0;
  uint32_t cp;
  while (pos < text.size()) {
    if (!DecodeUtf8(text, &pos, &cp)) return false;
  }
  return true;
}

bool Utf8ToWide(std::string_view utf8, std::wstring* out) {
  std::wstring result;
  result.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    uint32_t cp;
    if (!DecodeUtf8(utf8, &pos, &cp)) return false;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      result.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      result.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      result.push_back(static_cast<wchar_t>(cp));
    }
  }
  *out = std::move(result);
  return true;
}

std::wstring WidenUtf8(std::string_view text) {
  std::wstring wide;
  if (!Utf8ToWide(text, &wide)) wide = Widen(text);
  return wide;
}

bool WideToUtf8(std::wstring_view wide, std::string* out) {
  std::string result;
  result.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t cp = static_cast<uint16_t>(wide[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= wide.size()) return false;
      uint32_t low = static_cast<uint16_t>(wide[i + 1]);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    if (cp < 0x80) {
      result.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  *out = std::move(result);
  return true;
}

std::string ToLowerAscii(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::wstring ToLowerAscii(std::wstring_view text) {
  std::wstring result(text);
  for (wchar_t& c : result) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return result;
}

namespace {

std::string UnsignedText(uint64_t value) {
  char buffer[24];
  char* end = buffer + 24;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return std::string(p, end);
}

std::string SignedText(int64_t value) {
  if (value >= 0) return UnsignedText(static_cast<uint64_t>(value));
  // Negate in unsigned arithmetic so that the minimum value is handled too.
  std::string text = UnsignedText(0 - static_cast<uint64_t>(value));
  text.insert(text.begin(), '-');
  return text;
}

template <typename Char>
bool IsUnicodeSpaceOrAscii(Char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

template <typename Char>
bool ParseUint64(std::basic_string_view<Char> text, uint64_t* value) {
  bool ok = true;
  size_t i = 0;
  while (i < text.size() && IsUnicodeSpaceOrAscii(text[i])) {
    ok = false;
    ++i;
  }
  if (i < text.size() && text[i] == '-') {
    *value = 0;
    return false;
  }
  if (i < text.size() && text[i] == '+') ++i;
  if (i >= text.size()) {
    *value = 0;
    return false;
  }
  uint64_t result = 0;
  for (; i < text.size(); ++i) {
    Char c = text[i];
    if (c < '0' || c > '9') {
      *value = result;
      return false;
    }
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (result > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      *value = std::numeric_limits<uint64_t>::max();
      return false;
    }
    result = result * 10 + digit;
  }
  *value = result;
  return ok;
}

template <typename Char>
bool ParseInt32(std::basic_string_view<Char> text, int32_t* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return false;
  int64_t result = 0;
  for (; i < text.size(); ++i) {
    Char c = text[i];
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
    if (result > 2147483648LL) return false;
  }
  if (negative) result = -result;
  if (result > 2147483647LL || result < -2147483648LL) return false;
  *value = static_cast<int32_t>(result);
  return true;
}

}  // namespace

std::string ToString(long long value) { return SignedText(value); }
std::string ToString(unsigned long long value) { return UnsignedText(value); }
// Digits are ASCII: the wide forms widen the narrow ones.
std::wstring ToWString(long long value) { return Widen(ToString(value)); }
std::wstring ToWString(unsigned long long value) { return Widen(ToString(value)); }

std::string ToHex16(uint64_t value) {
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) text[i] = "0123456789abcdef"[value & 0xF];
  return text;
}

std::string ToHexString(uint64_t value) {
  std::string text = ToHex16(value);
  // Leading zeros go; zero keeps its last digit.
  const size_t first = text.find_first_not_of('0');
  text.erase(0, first == std::string::npos ? 15 : first);
  return text;
}

bool StringToUint64(std::string_view text, uint64_t* value) { return ParseUint64(text, value); }
bool StringToUint64(std::wstring_view text, uint64_t* value) { return ParseUint64(text, value); }
bool StringToInt32(std::string_view text, int32_t* value) { return ParseInt32(text, value); }
bool StringToInt32(std::wstring_view text, int32_t* value) { return ParseInt32(text, value); }

}  // namespace platform
