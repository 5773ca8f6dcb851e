#include "brand/file_version.h"

#include <windows.h>

#include <vector>

#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/strings.h"

namespace installer {
namespace {

// VS_FIXEDFILEINFO is 13 DWORDs; anything shorter is not a version record.
constexpr UINT kFixedFileInfoSize = 52;

}  // namespace

bool GetFileVersion(const std::wstring& module_path, uint32_t* most_significant,
                    uint32_t* least_significant) {
  const std::wstring path = module_path.empty() ? platform::OwnExecutablePath().value() : module_path;
  if (path.empty()) return false;
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0) return false;
  std::vector<uint8_t> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return false;
  void* fixed = nullptr;
  UINT fixed_size = 0;
  if (!::VerQueryValueW(data.data(), L"\\", &fixed, &fixed_size) || fixed == nullptr ||
      fixed_size < kFixedFileInfoSize) {
    return false;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  *most_significant = info->dwProductVersionMS;
  *least_significant = info->dwProductVersionLS;
  LOG(INFO, "GetFileVersion") << L"Module: " << path << L" Version: "
                              << static_cast<unsigned long>(info->dwProductVersionMS) << L"."
                              << static_cast<unsigned long>(info->dwProductVersionLS);
  return true;
}

std::wstring FormatFileVersion(uint32_t most_significant, uint32_t least_significant) {
  return platform::ToWString(most_significant >> 16) + L"." +
         platform::ToWString(most_significant & 0xFFFF) + L"." +
         platform::ToWString(least_significant >> 16) + L"." +
         platform::ToWString(least_significant & 0xFFFF);
}

std::wstring GetFileVersionString(const std::wstring& module_path) {
  uint32_t most = 0;
  uint32_t least = 0;
  if (!GetFileVersion(module_path, &most, &least)) return L"0.0.0.0";
  return FormatFileVersion(most, least);
}

}  // namespace installer
