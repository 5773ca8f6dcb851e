#include "brand/registry_values.h"

#include <windows.h>

#include "platform/logging.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"

namespace installer {
namespace {

// The value buffer of a read, in bytes, and the room for an expanded REG_EXPAND_SZ value,
// in characters (terminator included).
constexpr DWORD kReadBufferBytes = 2048;
constexpr DWORD kExpandedChars = 1024;

// Tests: the key used instead of the browser's.
constinit std::wstring g_key_path_for_testing;

std::wstring FullValueName(const std::wstring& key_path, std::string_view name) {
  return L"HKEY_CURRENT_USER\\" + key_path + L"\\" + platform::Widen(name);
}

// Opens the key for writing, creating it when it cannot be opened.
platform::ScopedRegKey OpenKeyForWriting(const std::wstring& key_path) {
  platform::ScopedRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_WRITE, key.receive()) ==
      ERROR_SUCCESS) {
    return key;
  }
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        key.receive(), nullptr) != ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

// Kept out of QueryString, so that neither frame holds both buffers: the product's frames
// stay below the 4,000 bytes that may skip the stack's guard page without a probe.
[[gnu::noinline]] std::wstring Expanded(const std::wstring& value) {
  wchar_t expanded[kExpandedChars] = {};
  const DWORD needed = ::ExpandEnvironmentStringsW(value.c_str(), expanded, kExpandedChars);
  // The result counts the terminator; zero is a failure, more than the buffer means the
  // expansion did not fit.
  if (needed == 0 || needed > kExpandedChars) return std::wstring();
  return std::wstring(expanded);
}

std::wstring QueryString(const std::wstring& key_path, std::string_view name) {
  platform::ScopedRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, key_path.c_str(), 0, KEY_READ, key.receive()) !=
      ERROR_SUCCESS) {
    return std::wstring();
  }
  const std::wstring wide_name = platform::Widen(name);
  // One spare character past the buffer keeps a value stored without its terminator
  // readable as a terminated string.
  wchar_t buffer[kReadBufferBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = REG_NONE;
  DWORD size = kReadBufferBytes;
  if (::RegQueryValueExW(key.get(), wide_name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  const size_t stored_chars = size / sizeof(wchar_t);
  std::wstring value(buffer, stored_chars);
  // Stored values normally carry their terminator; anything after the first zero is not
  // part of the string.
  const size_t zero = value.find(L'\0');
  if (zero != std::wstring::npos) value.resize(zero);
  if (type == REG_SZ) return value;
  if (type == REG_EXPAND_SZ) return Expanded(value);
  return std::wstring();
}

void LogRead(const char* function, const std::wstring& key_path, std::string_view name,
             const std::wstring& value) {
  LOG(INFO, function) << L"Read " << FullValueName(key_path, name) << L" which is \"" << value
                      << L"\"";
}

}  // namespace

std::wstring BrowserRegistryKeyPath() {
  const std::wstring& override_path = g_key_path_for_testing;
  return override_path.empty() ? std::wstring(kBrowserRegistryKey) : override_path;
}

void SetBrowserRegistryKeyPathForTesting(const std::wstring& key_path) {
  g_key_path_for_testing = key_path;
}

void StoreValueInRegistry(std::string_view name, const std::wstring& value) {
  const std::wstring key_path = BrowserRegistryKeyPath();
  LOG(INFO, "StoreValueInRegistry") << FullValueName(key_path, name) << L" = " << value;
  platform::ScopedRegKey key = OpenKeyForWriting(key_path);
  if (!key) return;
  const std::wstring wide_name = platform::Widen(name);
  ::RegSetValueExW(key.get(), wide_name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring ReadStringFromRegistry(std::string_view name) {
  const std::wstring key_path = BrowserRegistryKeyPath();
  std::wstring value = QueryString(key_path, name);
  LogRead("ReadStringFromRegistry", key_path, name, value);
  return value;
}

void RemoveValueFromRegistry(std::string_view name) {
  const std::wstring key_path = BrowserRegistryKeyPath();
  LOG(INFO, "RemoveValueFromRegistry") << L"Remove " << FullValueName(key_path, name);
  platform::ScopedRegKey key = OpenKeyForWriting(key_path);
  if (!key) return;
  const std::wstring wide_name = platform::Widen(name);
  ::RegDeleteValueW(key.get(), wide_name.c_str());
}

std::wstring ReadFilePathFromRegistry(std::string_view name) {
  const std::wstring key_path = BrowserRegistryKeyPath();
  std::wstring value = QueryString(key_path, name);
  if (!value.empty() && ::GetFileAttributesW(value.c_str()) == INVALID_FILE_ATTRIBUTES) {
    value.clear();
  }
  LogRead("ReadFilePathFromRegistry", key_path, name, value);
  return value;
}

}  // namespace installer
