#include "tests/support/pending_deletions.h"

#include <windows.h>

#include <vector>

namespace test_support {

namespace {
constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kValue[] = L"PendingFileRenameOperations";
}  // namespace

std::wstring PendingRenameOperations() {
  std::vector<wchar_t> data;
  DWORD size = 0;
  LSTATUS status = ERROR_MORE_DATA;
  while (status == ERROR_MORE_DATA) {
    data.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kValue, RRF_RT_REG_MULTI_SZ,
                          nullptr, data.data(), &size);
  }
  return status == ERROR_SUCCESS ? std::wstring(data.data(), size / sizeof(wchar_t)) : L"";
}

void ForgetPendingDeletionsUnder(const std::wstring& folder) {
  std::wstring list = PendingRenameOperations();
  const std::wstring prefix = L"\\??\\" + folder;
  if (list.find(prefix) == std::wstring::npos) return;
  for (size_t at; (at = list.find(prefix)) != std::wstring::npos;) {
    list.erase(at, list.find(L'\0', at) + 2 - at);
  }
  if (list.find_first_not_of(L'\0') == std::wstring::npos) {
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kValue);
    return;
  }
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSessionManagerKey, kValue, REG_MULTI_SZ, list.data(),
                  static_cast<DWORD>(list.size() * sizeof(wchar_t)));
}

}  // namespace test_support
