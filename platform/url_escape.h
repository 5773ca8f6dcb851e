// URL text helpers: the https URL of a host and path, and helpers over the system's URL
// services (shlwapi's escaper, WinINet's canonicaliser and cracker). The latter are total:
// any failure gives an empty string, so a caller that builds a statistics query simply
// leaves the key out.
#ifndef PLATFORM_URL_ESCAPE_H_
#define PLATFORM_URL_ESCAPE_H_

#include <string>
#include <string_view>

namespace platform {

// Longest URL the escaper and the canonicaliser produce, in characters with the terminator
// (the classic INTERNET_MAX_URL_LENGTH).
inline constexpr unsigned kMaxUrlChars = 2084;

// "https://" + host + path.
std::string HttpsUrl(std::string_view host, std::string_view path);
std::wstring WideHttpsUrl(std::string_view host, std::wstring_view path);

// Escapes `text` as one URL path segment ("/", "?", "#", spaces and non-ASCII characters
// are all escaped). Empty input, a result longer than the buffer, or an escaper failure
// gives the empty string.
std::wstring EscapeUrl(std::wstring_view text);

// Host name of `url` after browser-mode canonicalising and cracking with decoding.
// Empty when `url` is empty, not a URL, has no host, or any step fails.
std::wstring ExtractUrlHost(std::wstring_view url);

}  // namespace platform

#endif  // PLATFORM_URL_ESCAPE_H_
