#include "platform/registry.h"

#include <cstring>

namespace platform {

namespace {

constexpr REGSAM kWow64ViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// Kept out of ReadText, so that neither frame holds both buffers: the product's frames stay
// below the 4,000 bytes that may skip the stack's guard page without a probe.
[[gnu::noinline]] LONG ExpandText(const wchar_t* raw, std::wstring* value) {
  wchar_t expanded[kRegistryExpandedTextChars];
  DWORD needed = ::ExpandEnvironmentStringsW(raw, expanded, kRegistryExpandedTextChars);
  if (needed == 0) return static_cast<LONG>(::GetLastError());
  if (needed > kRegistryExpandedTextChars) return ERROR_MORE_DATA;
  // `needed` counts the terminating zero.
  value->assign(expanded, needed - 1);
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegKeyReader::OpenKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExW(root, subkey, 0, access, &key);
  if (result != ERROR_SUCCESS) return result;
  key_.reset(key);
  wow64_access_ = access & kWow64ViewMask;
  return ERROR_SUCCESS;
}

LONG RegKeyReader::OpenSubKey(const wchar_t* subkey, REGSAM access) {
  if (!key_.is_valid()) return ERROR_INVALID_HANDLE;
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExW(key_.get(), subkey, 0, access | wow64_access_, &key);
  if (result != ERROR_SUCCESS) return result;
  key_.reset(key);
  return ERROR_SUCCESS;
}

void RegKeyReader::Close() {
  key_.reset();
  wow64_access_ = 0;
}

LONG RegKeyReader::ReadDword(const wchar_t* name, DWORD* value) const {
  DWORD type = REG_NONE;
  DWORD data = 0;
  DWORD size = sizeof(data);
  LONG result = ::RegQueryValueExW(key_.get(), name, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&data), &size);
  if (result == ERROR_MORE_DATA) return ERROR_CANTREAD;  // larger than a DWORD: wrong type
  if (result != ERROR_SUCCESS) return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(data)) return ERROR_CANTREAD;
  *value = data;
  return ERROR_SUCCESS;
}

LONG RegKeyReader::ReadText(const wchar_t* name, std::wstring* value) const {
  // One character more than the buffer Windows is told about, so a value stored without
  // its terminating zero can still be terminated.
  wchar_t raw[kRegistryTextBufferBytes / sizeof(wchar_t) + 1];
  DWORD type = REG_NONE;
  DWORD size = kRegistryTextBufferBytes;
  LONG result = ::RegQueryValueExW(key_.get(), name, nullptr, &type,
                                   reinterpret_cast<BYTE*>(raw), &size);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_CANTREAD;
  size_t length = size / sizeof(wchar_t);
  raw[length] = L'\0';
  while (length > 0 && raw[length - 1] == L'\0') --length;

  if (type == REG_SZ) {
    value->assign(raw, length);
    return ERROR_SUCCESS;
  }
  return ExpandText(raw, value);
}

LONG RegKey::CreateKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  LONG result = ::RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                  nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  key_.reset(key);
  wow64_access_ = access & kWow64ViewMask;
  return ERROR_SUCCESS;
}

LONG RegKey::OpenOrCreateKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  if (OpenKey(root, subkey, access) == ERROR_SUCCESS) return ERROR_SUCCESS;
  return CreateKey(root, subkey, access);
}

LONG RegKey::WriteText(const wchar_t* name, const std::wstring& text) {
  DWORD size = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key_.get(), name, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()), size);
}

LONG RegKey::WriteDword(const wchar_t* name, DWORD value) {
  return ::RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
}

LONG RegKey::RemoveValue(const wchar_t* name) { return ::RegDeleteValueW(key_.get(), name); }

}  // namespace platform
