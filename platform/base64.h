// Base64 with the standard alphabet (RFC 4648, section 4) and "=" padding.
//
// The decoder is strict: the text must be whole groups of four characters from the alphabet,
// padding may only close the last group, and the bits that padding leaves over must be zero.
// White space, line breaks, the URL-safe alphabet and missing padding are all refused, so
// every byte string has exactly one accepted text. The encoder writes one line, no breaks.
#ifndef PLATFORM_BASE64_H_
#define PLATFORM_BASE64_H_

#include <string>
#include <string_view>

namespace platform {

// The Base64 text of `bytes` (empty for empty input).
std::string Base64Encode(std::string_view bytes);

// Decodes `text` into `*out`. Empty text decodes to empty bytes. On invalid text returns
// false and leaves `*out` untouched.
bool Base64Decode(std::string_view text, std::string* out);

}  // namespace platform

#endif  // PLATFORM_BASE64_H_
