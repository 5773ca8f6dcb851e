// Registry keys: reading and writing the few value types the installer uses.
//
// `RegKeyReader` opens an existing key and reads values; `RegKey` can also create keys and
// write and remove values. Both close the key they hold when they are destroyed or reopen.
// Every operation returns the Windows error code (ERROR_SUCCESS on success) and leaves its
// out-parameter untouched on failure. A value of an unexpected type gives ERROR_CANTREAD
// (1012); text that does not fit gives ERROR_MORE_DATA (234).
#ifndef PLATFORM_REGISTRY_H_
#define PLATFORM_REGISTRY_H_

#include <windows.h>

#include <string>

#include "platform/scoped_handle.h"

namespace platform {

// Bytes `ReadText` reads at most (including the terminating zero).
inline constexpr DWORD kRegistryTextBufferBytes = 2048;
// Characters an expanded REG_EXPAND_SZ value may take (including the terminating zero).
inline constexpr DWORD kRegistryExpandedTextChars = 1024;

class RegKeyReader {
 public:
  RegKeyReader() = default;
  RegKeyReader(const RegKeyReader&) = delete;
  RegKeyReader& operator=(const RegKeyReader&) = delete;
  RegKeyReader(RegKeyReader&&) = default;
  RegKeyReader& operator=(RegKeyReader&&) = default;

  // RegOpenKeyExW(root, subkey, access). The WOW64 view bits of `access`
  // (KEY_WOW64_32KEY, KEY_WOW64_64KEY) are kept and added to `OpenSubKey`.
  LONG OpenKey(HKEY root, const wchar_t* subkey, REGSAM access);
  // Opens `subkey` below the open key with `access` plus the kept view bits and holds it
  // instead (the parent is closed on success only).
  LONG OpenSubKey(const wchar_t* subkey, REGSAM access);
  void Close();

  bool IsOpen() const { return key_.is_valid(); }
  // Owned by this object.
  HKEY handle() const { return key_.get(); }

  // A REG_DWORD value, or a REG_BINARY value of exactly 4 bytes; other types or sizes give
  // ERROR_CANTREAD.
  LONG ReadDword(const wchar_t* name, DWORD* value) const;
  // Reads up to `kRegistryTextBufferBytes`: REG_SZ as stored, REG_EXPAND_SZ with its
  // environment variables expanded into `kRegistryExpandedTextChars` characters
  // (ERROR_MORE_DATA when the expansion does not fit); any other type gives ERROR_CANTREAD.
  // A value larger than the buffer gives ERROR_MORE_DATA. Trailing zeros are not part of
  // the text.
  LONG ReadText(const wchar_t* name, std::wstring* value) const;

 protected:
  ScopedRegKey key_;
  REGSAM wow64_access_ = 0;
};

class RegKey : public RegKeyReader {
 public:
  RegKey() = default;
  RegKey(RegKey&&) = default;
  RegKey& operator=(RegKey&&) = default;

  // RegCreateKeyExW(root, subkey, no class, no options, access); view bits kept as by OpenKey.
  LONG CreateKey(HKEY root, const wchar_t* subkey, REGSAM access);
  // OpenKey, and CreateKey when opening fails.
  LONG OpenOrCreateKey(HKEY root, const wchar_t* subkey, REGSAM access);

  // REG_SZ with the terminating zero counted in the size.
  LONG WriteText(const wchar_t* name, const std::wstring& text);
  // A REG_DWORD value.
  LONG WriteDword(const wchar_t* name, DWORD value);
  // RegDeleteValueW.
  LONG RemoveValue(const wchar_t* name);
};

}  // namespace platform

#endif  // PLATFORM_REGISTRY_H_
