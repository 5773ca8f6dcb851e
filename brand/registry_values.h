// The per-user registry store of the installer.
//
// Every value lives under one key, HKEY_CURRENT_USER\Software\Zorvin\ZorvinBrowser, as a
// REG_SZ string written with its terminating zero. The browser setup program and later
// installer runs read what is left here ("brand", "lang", "DistribInfoParams", the vendor
// file paths, the statistics). Each operation opens and closes the key itself and caches
// nothing, so any thread may call it. Each writes one INFO log line; failures never stop
// the installer: writes and removals are fire-and-forget, reads give an empty string.
#ifndef BRAND_REGISTRY_VALUES_H_
#define BRAND_REGISTRY_VALUES_H_

#include <string>
#include <string_view>

namespace installer {

// The key path under HKEY_CURRENT_USER, without leading or trailing backslash.
inline constexpr wchar_t kBrowserRegistryKey[] = L"Software\\Zorvin\\ZorvinBrowser";

// The key path in use: kBrowserRegistryKey unless a test replaced it.
std::wstring BrowserRegistryKeyPath();

// Sets `name` to `value` (REG_SZ), creating the key when needed. Failures are ignored.
void StoreValueInRegistry(std::string_view name, const std::wstring& value);

// The string value `name`: REG_SZ as stored, REG_EXPAND_SZ with environment variables
// expanded (empty when the expansion exceeds 1024 characters); empty for a missing key or
// value, any other type, or a value longer than 2048 bytes.
std::wstring ReadStringFromRegistry(std::string_view name);

// Deletes the value `name` (the key is created when missing). Failures are ignored.
void RemoveValueFromRegistry(std::string_view name);

// As ReadStringFromRegistry, but empty unless a file or folder exists at the path read.
std::wstring ReadFilePathFromRegistry(std::string_view name);

// Test-only: every operation of this process uses `key_path` (under HKEY_CURRENT_USER)
// instead of kBrowserRegistryKey; an empty path restores the real key.
void SetBrowserRegistryKeyPathForTesting(const std::wstring& key_path);

}  // namespace installer

#endif  // BRAND_REGISTRY_VALUES_H_
