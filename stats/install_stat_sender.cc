#include "stats/install_stat_sender.h"

#include <windows.h>
#include <shlobj.h>

#include <utility>
#include <vector>

#include "brand/file_version.h"
#include "brand/registry_values.h"
#include "build_config/endpoints.h"
#include "platform/logging.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/url_escape.h"

namespace installer {

namespace {

constexpr char kLaunchCommandLineValue[] = "InstallerSuccessLaunchCmdLine";
constexpr uint32_t kMaxUiFileBytes = 64 * 1024;

constexpr wchar_t kExtendedStatsPath[] =
    L"/installstats/send/dtype=stred/pid=457/cid=72992/path=extended_stat/vars=";

// The statistics server splits the list on "," and each item on "-" and "=".
std::wstring ReplaceSeparators(std::wstring text) {
  for (wchar_t& ch : text) {
    if (ch == L',' || ch == L'-' || ch == L'=') ch = L'_';
  }
  return text;
}

std::wstring StripOneSurrounding(std::wstring text, wchar_t open, wchar_t close) {
  if (text.size() >= 2 && text.front() == open && text.back() == close) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

// The next line of `*text`, without its line feed, taken off the front.
std::wstring_view TakeLine(std::wstring_view* text) {
  const size_t end = text->find(L'\n');
  const std::wstring_view line = text->substr(0, end);
  text->remove_prefix(end == std::wstring_view::npos ? text->size() : end + 1);
  return line;
}

}  // namespace

InstallStatEnvironment::~InstallStatEnvironment() = default;

std::wstring InstallStatEnvironment::ReadRegistryString(std::string_view name) {
  return ReadStringFromRegistry(name);
}

void InstallStatEnvironment::StoreRegistryString(std::string_view name,
                                                 const std::wstring& value) {
  StoreValueInRegistry(name, value);
}

void InstallStatEnvironment::RemoveRegistryValue(std::string_view name) {
  RemoveValueFromRegistry(name);
}

bool InstallStatEnvironment::EventExists(const std::wstring& name) {
  platform::ScopedKernelHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (event) return true;
  // An event made by another user or at a higher integrity level exists all the same.
  return GetLastError() == ERROR_ACCESS_DENIED;
}

std::wstring InstallStatEnvironment::UiFilePath() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return std::wstring();
  }
  if (folder[0] == L'\0') return std::wstring();
  return std::wstring(folder) + L"\\Zorvin\\ui";
}

std::wstring InstallStatEnvironment::OwnVersion() {
  return GetFileVersionString(std::wstring());
}

std::wstring InstallerKindName(int32_t installer_kind) {
  switch (installer_kind) {
    case 0: return L"lite";
    case 1: return L"full";
    case 2: return L"updater";
    case 3: return L"service";
    default: return platform::ToWString(installer_kind);
  }
}

std::wstring TargetKindName(int32_t target_kind) {
  switch (target_kind) {
    case 0: return std::wstring();
    case 1: return L"mini";
    case 2: return L"service";
    case 3: return L"hips";
    case 4: return L"unknown";
    default: return platform::ToWString(target_kind);
  }
}

std::wstring SerializeStatVariables(const StatVariables& variables) {
  std::wstring text;
  auto append_line = [&text](std::wstring line) {
    for (wchar_t& ch : line) {
      if (ch == L'\n') ch = L' ';
    }
    text += line;
    text += L'\n';
  };
  for (const auto& [key, value] : variables) {
    append_line(platform::Widen(key));
    append_line(value);
  }
  return text;
}

void ParseStatVariables(std::wstring_view text, StatVariables* variables) {
  while (!text.empty()) {
    const std::wstring_view key = TakeLine(&text);
    if (text.empty()) break;  // a key without its value line
    const std::wstring_view value = TakeLine(&text);
    if (!key.empty()) (*variables)[platform::Narrow(key)].assign(value);
  }
}

std::wstring LaunchEventName(std::wstring_view command_line) {
  if (command_line.size() < 3) return std::wstring();
  std::wstring name(command_line);
  if (name.front() == L'"') name.erase(0, 1);
  if (!name.empty() && name.back() == L'"') name.pop_back();
  for (wchar_t& ch : name) {
    // Kernel object names may not contain a backslash after the namespace prefix.
    if (ch == L'\\') ch = L'!';
  }
  // The system's case table, so that letters outside ASCII in a path match as well.
  if (!name.empty()) CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
  return L"Global\\" + name;
}

std::wstring UiValueFromFileContent(std::string_view bytes) {
  std::wstring text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    bytes.remove_prefix(2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
  } else {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    text = platform::WidenUtf8(bytes);
  }
  return StripOneSurrounding(std::move(text), L'{', L'}');
}

std::wstring ReadUiValue(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  platform::ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::wstring();
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxUiFileBytes) {
    return std::wstring();
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() &&
      !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return std::wstring();
  }
  bytes.resize(read);
  return UiValueFromFileContent(bytes);
}

InstallStatSender::InstallStatSender(int32_t target_kind, int32_t installer_kind,
                                     const StatVariables& initial_variables,
                                     std::unique_ptr<InstallStatEnvironment> environment)
    : target_kind_(target_kind),
      installer_kind_(installer_kind),
      environment_(environment ? std::move(environment)
                               : std::make_unique<InstallStatEnvironment>()) {
  if (target_kind_ != kTargetKindHips) Gather(initial_variables);
}

InstallStatSender::~InstallStatSender() {
  if (installer_kind_ == kInstallerKindLite || installer_kind_ == kInstallerKindFull) {
    environment_->RemoveRegistryValue(kInstallStatValue);
  }
}

void InstallStatSender::Gather(const StatVariables& initial_variables) {
  StatVariables variables = initial_variables;
  ParseStatVariables(environment_->ReadRegistryString(kInstallStatValue), &variables);

  if (installer_kind_ == kInstallerKindLite || installer_kind_ == kInstallerKindFull) {
    std::wstring command_line = environment_->ReadRegistryString(kLaunchCommandLineValue);
    if (command_line.size() >= 3) {
      SetEventValue(&variables, "launched",
                    environment_->EventExists(LaunchEventName(command_line)) ? L"true" : L"false");
    } else if (variables.count("launched") == 0) {
      SetEventValue(&variables, "launched", L"false");
    }
  }

  SetEventValue(&variables, "ui", ReadUiValue(environment_->UiFilePath()));

  if (variables.count("old_ver") == 0) {
    std::wstring old_version = environment_->ReadRegistryString("zpv");
    if (old_version.empty()) old_version = environment_->ReadRegistryString("pv");
    SetEventValue(&variables, "old_ver", old_version);
  }

  SetEventValue(&variables, installer_kind_ == kInstallerKindUpdater ? "ver" : "lite_ver",
                environment_->OwnVersion());
  SetEventValue(&variables, "installer_type",
                installer_kind_ == kInstallerKindUnset ? TargetKindName(target_kind_)
                                                       : InstallerKindName(installer_kind_));

  platform::AutoLock hold(lock_);
  variables_ = std::move(variables);
}

std::wstring InstallStatSender::Send(const InstallEvent& event) {
  StatVariables variables = Variables();
  for (const auto& [key, value] : event) variables[key] = value;

  if (target_kind_ == kTargetKindHips) variables.erase("launched");
  if (installer_kind_ != kInstallerKindUnset) {
    if (target_kind_ != kTargetKindBrowser) {
      SetEventValue(&variables, "target", TargetKindName(target_kind_));
    }
  }
  SetEventValue(&variables, "old_style", installer_kind_ != kInstallerKindUnset ? L"0" : L"1");
  if (target_kind_ != kTargetKindHips && variables.count("brand_id") == 0) {
    SetEventValue(&variables, "brand_id", L"unknown");
  }

  logging::LogText(logging::kINFO, "GetQueryUrl", __LINE__, "InstallStatSender::Send:");
  for (const auto& [key, value] : variables) {
    LOG(INFO, "GetQueryUrl") << key << "=" << value;
  }

  std::wstring list;
  for (const auto& [key, value] : variables) {
    std::wstring escaped_key = platform::EscapeUrl(ReplaceSeparators(platform::Widen(key)));
    std::wstring escaped_value = platform::EscapeUrl(ReplaceSeparators(value));
    if (!list.empty()) list += L',';
    list += L'-';
    list += escaped_key;
    list += L'=';
    list += escaped_value;
  }
  list += L"/*";
  std::wstring url = platform::WideHttpsUrl(endpoints::kExtendedStatsHost, kExtendedStatsPath);
  url += list;
  return url;
}

void InstallStatSender::SetVariable(const char* key, std::wstring value) {
  platform::AutoLock hold(lock_);
  SetEventValue(&variables_, key, value);
}

void InstallStatSender::SetBrandId(std::string_view value) {
  SetVariable("brand_id", platform::WidenUtf8(value));
}

void InstallStatSender::SetPartnerId(std::string_view value) {
  SetVariable("partner_id", platform::WidenUtf8(value));
}

void InstallStatSender::SetNewVersion(std::wstring_view value) {
  SetVariable("new_ver", std::wstring(value));
}

void InstallStatSender::SetInstallType(std::string_view value) {
  SetVariable("install_type", platform::Widen(value));
}

void InstallStatSender::SetBannerId(std::string_view value) {
  SetVariable("banner_id", platform::WidenUtf8(value));
}

void InstallStatSender::SetDistrZorvinUid(std::string_view value) {
  SetVariable("distr_zorvin_uid", platform::WidenUtf8(value));
}

void InstallStatSender::SetZorvinUid(std::string_view value) {
  SetVariable("zorvin_uid", platform::WidenUtf8(value));
}

bool InstallStatSender::HasOldVersion() const {
  platform::AutoLock hold(lock_);
  auto it = variables_.find("old_ver");
  return it != variables_.end() && !it->second.empty();
}

void InstallStatSender::Save() {
  environment_->StoreRegistryString(kInstallStatValue, SerializeStatVariables(Variables()));
}

StatVariables InstallStatSender::Variables() const {
  platform::AutoLock hold(lock_);
  return variables_;
}

}  // namespace installer
