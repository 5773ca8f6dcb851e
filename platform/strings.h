// Text helpers shared by every subsystem. Pure functions, no Windows calls.
//
// The installer deals in two kinds of text: wide strings (paths, switch values, log text)
// and byte strings (switch names, configuration keys, distribution parameters, URLs).
// `Widen` and `Narrow` convert byte by byte, as the program's protocols require; the UTF-8
// conversions are for JSON text and are strict (invalid input gives false).
#ifndef PLATFORM_STRINGS_H_
#define PLATFORM_STRINGS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Each byte becomes one wide character (0..255).
std::wstring Widen(std::string_view text);
// Each wide character keeps its low 8 bits.
std::string Narrow(std::wstring_view text);

// Strict UTF-8 <-> UTF-16. Invalid input (bad sequences, lone surrogates) fails and leaves
// the output untouched.
bool Utf8ToWide(std::string_view utf8, std::wstring* out);
bool WideToUtf8(std::wstring_view wide, std::string* out);
bool IsValidUtf8(std::string_view text);
// Text that outside input hands over as bytes (distribution parameters, document values):
// decoded as UTF-8 when it is valid UTF-8, otherwise widened byte by byte as a whole.
std::wstring WidenUtf8(std::string_view text);

// ASCII-only case mapping: other characters are left as they are.
std::string ToLowerAscii(std::string_view text);
std::wstring ToLowerAscii(std::wstring_view text);

// Decimal text of integers (every integer type, so DWORD and LONG need no casts).
std::string ToString(long long value);
std::string ToString(unsigned long long value);
inline std::string ToString(int value) { return ToString(static_cast<long long>(value)); }
inline std::string ToString(long value) { return ToString(static_cast<long long>(value)); }
inline std::string ToString(unsigned value) { return ToString(static_cast<unsigned long long>(value)); }
inline std::string ToString(unsigned long value) {
  return ToString(static_cast<unsigned long long>(value));
}
std::wstring ToWString(long long value);
std::wstring ToWString(unsigned long long value);
inline std::wstring ToWString(int value) { return ToWString(static_cast<long long>(value)); }
inline std::wstring ToWString(long value) { return ToWString(static_cast<long long>(value)); }
inline std::wstring ToWString(unsigned value) {
  return ToWString(static_cast<unsigned long long>(value));
}
inline std::wstring ToWString(unsigned long value) {
  return ToWString(static_cast<unsigned long long>(value));
}
// Lower-case hexadecimal without leading zeros ("0" for zero).
std::string ToHexString(uint64_t value);
// Lower-case hexadecimal, always 16 digits.
std::string ToHex16(uint64_t value);
// The digits of upper-case hexadecimal, one table for every escaper.
inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// Unsigned decimal conversion with the program's failure rules: leading white space is
// skipped but reports failure (the value is still converted); a leading "-" fails with 0;
// one leading "+" is allowed; the first non-digit stops with failure, keeping the value
// converted so far; overflow fails with all bits set; empty text fails.
// Returns true on success; *value is always written.
bool StringToUint64(std::string_view text, uint64_t* value);
bool StringToUint64(std::wstring_view text, uint64_t* value);
// Signed base-10 conversion of the whole text into a 32-bit value; false for empty text,
// trailing garbage or a value outside the 32-bit range (value left untouched then).
bool StringToInt32(std::string_view text, int32_t* value);
bool StringToInt32(std::wstring_view text, int32_t* value);

}  // namespace platform

#endif  // PLATFORM_STRINGS_H_
