#include "tests/support/child_process.h"

#include <cwctype>

#include "platform/strings.h"
#include "tests/support/test_paths.h"

namespace test_support {

namespace {

bool IsTempVariable(const std::wstring& entry) {
  std::wstring name = entry.substr(0, entry.find(L'='));
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
  return name == L"TMP" || name == L"TEMP";
}

// The current environment with TMP and TEMP replaced.
std::wstring EnvironmentWithTemp(const std::wstring& temp_dir) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  if (strings != nullptr) {
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
      std::wstring text(entry);
      if (IsTempVariable(text)) continue;
      block += text;
      block.push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
  }
  for (const wchar_t* name : {L"TMP=", L"TEMP="}) {
    block += name + temp_dir;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

}  // namespace

ScopedWineDllOverrides::ScopedWineDllOverrides(
    const std::wstring& program_name,
    const std::vector<std::pair<std::wstring, std::wstring>>& orders)
    : key_(L"Software\\Wine\\AppDefaults\\" + program_name + L"\\DllOverrides") {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  ok_ = true;
  for (const auto& [dll, order] : orders) {
    ok_ = ok_ && RegSetValueExW(key, dll.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(order.c_str()),
                                static_cast<DWORD>((order.size() + 1) * sizeof(wchar_t))) ==
                     ERROR_SUCCESS;
  }
  RegCloseKey(key);
}

ScopedWineDllOverrides::~ScopedWineDllOverrides() {
  RegDeleteTreeW(HKEY_CURRENT_USER, key_.substr(0, key_.rfind(L'\\')).c_str());
}

ChildProcess::~ChildProcess() { Terminate(); }

bool ChildProcess::Start(const std::wstring& command_line, const std::wstring& temp_dir) {
  std::wstring environment;
  if (!temp_dir.empty()) {
    environment = EnvironmentWithTemp(temp_dir);
  }
  std::wstring mutable_line = command_line;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT,
                      environment.empty() ? nullptr : environment.data(), nullptr, &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  id_ = info.dwProcessId;
  return true;
}

bool ChildProcess::Wait(uint32_t timeout_ms, int32_t* exit_code) {
  if (!process_) return false;
  if (WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) return false;
  *exit_code = static_cast<int32_t>(code);
  return true;
}

void ChildProcess::Terminate() {
  if (process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
  }
}

bool RunProgram(const std::wstring& command_line, const std::wstring& temp_dir,
                uint32_t timeout_ms, int32_t* exit_code) {
  ChildProcess child;
  return child.Start(command_line, temp_dir) && child.Wait(timeout_ms, exit_code);
}

std::wstring TestProgram(const std::wstring& name) { return BuildFile(L"test_programs\\" + name); }

std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path) {
  std::string bytes = ReadFileBytes(path);
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  if (!text.empty() && text[0] == L'\xFEFF') text.erase(0, 1);
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

int CountContaining(const std::vector<std::wstring>& lines, const std::wstring& fragment) {
  int count = 0;
  for (const std::wstring& line : lines) {
    if (line.find(fragment) != std::wstring::npos) ++count;
  }
  return count;
}

std::vector<std::wstring> InstallerLogReader::Log() const {
  return ReadUtf16Lines(LogFolder() + L"\\lite_installer.log");
}

int InstallerLogReader::Count(const std::wstring& fragment) const {
  return CountContaining(Log(), fragment);
}

std::string InstallerLogReader::LogText() const {
  std::wstring text;
  for (const std::wstring& line : Log()) text += line + L"\n";
  return platform::Narrow(text);
}

}  // namespace test_support
