#include "trust/module_verifier.h"

#include <windows.h>

#include <cstdint>

#include "build_config/trusted_keys.h"
#include "platform/base64.h"
#include "platform/file_path.h"
#include "platform/logging.h"
#include "platform/scoped_handle.h"
#include "trust/signature_verifier.h"

namespace installer {
namespace {

constexpr char kTag[] = "GetTrustJsonFromModule";

// Whether every byte of [data, data + size) is committed, readable memory. The archive is
// not trusted yet: a resource entry may claim more bytes than the file maps.
bool IsReadableRange(const void* data, size_t size) {
  const auto begin = reinterpret_cast<uintptr_t>(data);
  if (begin + size < begin) return false;
  uintptr_t current = begin;
  while (current < begin + size) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<const void*>(current), &info, sizeof(info))) return false;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) ||
        info.Protect == 0) {
      return false;
    }
    current = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

// The bytes of one resource; empty when it is missing, empty or not readable.
std::string ReadModuleResource(HMODULE module, const wchar_t* name, const wchar_t* type) {
  HRSRC info = FindResourceW(module, name, type);
  if (!info) return std::string();
  const DWORD size = SizeofResource(module, info);
  if (size == 0) return std::string();
  HGLOBAL loaded = LoadResource(module, info);
  if (!loaded) return std::string();
  const void* data = LockResource(loaded);
  if (!data || !IsReadableRange(data, size)) return std::string();
  return std::string(static_cast<const char*>(data), size);
}

std::string GetTrustJson(const std::wstring& path, const char* const* keys, size_t key_count) {
  if (!IsAbsoluteModulePath(path)) {
    logging::LogWithValue(logging::kERROR, kTag, __LINE__,
                          "Attempting to GetTrustJsonFromModule at an invalid path: ", path);
    return std::string();
  }
  platform::ScopedModule module(LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
    // XP knows no LOAD_LIBRARY_AS_IMAGE_RESOURCE and may refuse the call for it; a data
    // file is all that reading two resources needs.
    module.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  }
  if (!module) {
    logging::LogWithValue(logging::kERROR, kTag, __LINE__,
                          "Failed to load module for GetTrustJsonFromModule: ", path);
    return std::string();
  }
  const std::string signature = ReadModuleResource(module.get(), L"SIGNATURE.DAT", L"SIGNATURE_DAT");
  if (signature.size() <= 2) {
    LOG(ERROR, kTag) << "Cannot find resource " << "SIGNATURE_DAT";
    return std::string();
  }
  std::string json = ReadModuleResource(module.get(), L"TRUSTED.JSON", L"TRUSTED_JSON");
  if (json.empty()) {
    LOG(ERROR, kTag) << "Cannot find resource " << "TRUSTED_JSON";
    return std::string();
  }
  const unsigned index = static_cast<uint8_t>(signature[0]) |
                         (static_cast<unsigned>(static_cast<uint8_t>(signature[1])) << 8);
  std::string key;
  if (index >= key_count || !keys[index] || !keys[index][0] ||
      !platform::Base64Decode(keys[index], &key)) {
    logging::LogText(logging::kERROR, kTag, __LINE__, "Cannot find key");
    return std::string();
  }
  SignatureVerifier verifier;
  if (!verifier.Verify(std::string_view(signature).substr(2), key, json)) {
    logging::LogText(logging::kERROR, kTag, __LINE__, "Verify error");
    return std::string();
  }
  return json;
}

}  // namespace

bool IsAbsoluteModulePath(std::wstring_view path) {
  using platform::FilePath;
  if (path.size() >= 2 && FilePath::IsSeparator(path[0]) && FilePath::IsSeparator(path[1]))
    return true;
  const wchar_t drive = path.empty() ? 0 : path[0];
  const bool is_letter = (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
  return path.size() >= 3 && is_letter && path[1] == L':' && FilePath::IsSeparator(path[2]);
}

std::string GetTrustJsonFromModule(const std::wstring& path) {
  return GetTrustJson(path, build_config::kTrustedPublicKeys,
                      sizeof(build_config::kTrustedPublicKeys) /
                          sizeof(build_config::kTrustedPublicKeys[0]));
}

std::string GetTrustJsonFromModuleForTesting(const std::wstring& path, const char* const* keys,
                                             size_t key_count) {
  return GetTrustJson(path, keys, key_count);
}

}  // namespace installer
