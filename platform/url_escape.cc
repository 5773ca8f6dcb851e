#include "platform/url_escape.h"

#include <windows.h>
#include <shlwapi.h>
#include <wininet.h>

#include "platform/strings.h"

namespace platform {

std::string HttpsUrl(std::string_view host, std::string_view path) {
  std::string url = "https://";
  url += host;
  url += path;
  return url;
}

std::wstring WideHttpsUrl(std::string_view host, std::wstring_view path) {
  std::wstring url = L"https://";
  url += Widen(host);
  url += path;
  return url;
}

std::wstring EscapeUrl(std::wstring_view text) {
  if (text.empty()) return std::wstring();
  // UrlEscapeW wants a terminated input.
  std::wstring input(text);
  std::wstring buffer(kMaxUrlChars, L'\0');
  DWORD size = kMaxUrlChars;
  // Without URL_ESCAPE_AS_UTF8 the escaper copies non-ASCII characters through unchanged,
  // and WinINet later squeezes them into the ANSI code page ("?" for most of a localized
  // error text). Systems older than Windows 7 reject the flag, so try again without it.
  HRESULT hr = UrlEscapeW(input.c_str(), buffer.data(), &size,
                          URL_ESCAPE_SEGMENT_ONLY | URL_ESCAPE_AS_UTF8);
  if (hr == E_INVALIDARG) {
    size = kMaxUrlChars;
    hr = UrlEscapeW(input.c_str(), buffer.data(), &size, URL_ESCAPE_SEGMENT_ONLY);
  }
  if (FAILED(hr)) return std::wstring();
  // On success `size` is the length without the terminator; trust it only inside the buffer.
  if (size >= kMaxUrlChars) return std::wstring();
  buffer.resize(size);
  return buffer;
}

std::wstring ExtractUrlHost(std::wstring_view url) {
  if (url.empty()) return std::wstring();
  std::wstring input(url);
  std::wstring canonical(kMaxUrlChars, L'\0');
  DWORD canonical_size = kMaxUrlChars;
  if (!InternetCanonicalizeUrlW(input.c_str(), canonical.data(), &canonical_size,
                                ICU_BROWSER_MODE)) {
    return std::wstring();
  }
  if (canonical_size >= kMaxUrlChars) return std::wstring();

  std::wstring host(kMaxUrlChars, L'\0');
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = kMaxUrlChars;
  if (!InternetCrackUrlW(canonical.data(), canonical_size, ICU_DECODE, &parts)) {
    return std::wstring();
  }
  if (parts.dwHostNameLength >= kMaxUrlChars) return std::wstring();
  host.resize(parts.dwHostNameLength);
  return host;
}

}  // namespace platform
