#include "tests/support/browser_registry_key.h"

#include <shlwapi.h>

#include <atomic>

#include "brand/registry_values.h"

namespace test_support {

ScopedBrowserRegistryKey::ScopedBrowserRegistryKey() {
  static std::atomic<unsigned> counter{0};
  path_ = L"Software\\ZorvinTests\\" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(counter++);
  installer::SetBrowserRegistryKeyPathForTesting(path_);
}

ScopedBrowserRegistryKey::~ScopedBrowserRegistryKey() {
  installer::SetBrowserRegistryKeyPathForTesting(std::wstring());
  SHDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
}

bool ScopedBrowserRegistryKey::Write(const std::wstring& name, DWORD type, const void* data,
                                     DWORD size) const {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG result = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool ScopedBrowserRegistryKey::WriteString(const std::wstring& name, const std::wstring& value,
                                           DWORD type) const {
  return Write(name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool ScopedBrowserRegistryKey::Read(const std::wstring& name, DWORD* type,
                                    std::string* bytes) const {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 0;
  LONG result = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    bytes->assign(size, '\0');
    result = RegQueryValueExW(key, name.c_str(), nullptr, type,
                              reinterpret_cast<BYTE*>(bytes->data()), &size);
    bytes->resize(size);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool ScopedBrowserRegistryKey::Exists(const std::wstring& name) const {
  DWORD type = 0;
  std::string bytes;
  return Read(name, &type, &bytes);
}

}  // namespace test_support
