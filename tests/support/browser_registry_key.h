// A private stand-in for the browser's per-user registry key, for tests that store or read
// installer values. Each instance points the value store at a fresh key under
// HKEY_CURRENT_USER\Software\ZorvinTests and deletes that key again, so test processes that
// run at the same time never see each other's values.
#ifndef TESTS_SUPPORT_BROWSER_REGISTRY_KEY_H_
#define TESTS_SUPPORT_BROWSER_REGISTRY_KEY_H_

#include <windows.h>

#include <string>

namespace test_support {

class ScopedBrowserRegistryKey {
 public:
  ScopedBrowserRegistryKey();
  ~ScopedBrowserRegistryKey();
  ScopedBrowserRegistryKey(const ScopedBrowserRegistryKey&) = delete;
  ScopedBrowserRegistryKey& operator=(const ScopedBrowserRegistryKey&) = delete;

  // The key path under HKEY_CURRENT_USER.
  const std::wstring& path() const { return path_; }

  // Direct access that bypasses the code under test.
  bool Write(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
  bool WriteString(const std::wstring& name, const std::wstring& value, DWORD type = REG_SZ) const;
  // False when the value is missing; otherwise its type and raw bytes.
  bool Read(const std::wstring& name, DWORD* type, std::string* bytes) const;
  bool Exists(const std::wstring& name) const;

 private:
  std::wstring path_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_BROWSER_REGISTRY_KEY_H_
