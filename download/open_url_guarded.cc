#include "download/open_url_guarded.h"

#include "build_config/wininet_imports.h"

#include "download/seh_guard.h"
#include "platform/strings.h"
#include "platform/system_library.h"

namespace installer {

namespace {

struct WinInetLoad {
  bool loaded = false;
  DownloadFailureInfo failure;
};

// Loads the library and looks up every function the delay-load helper will bind later, so
// that the library's start-up code runs in the guard and no later call finds a function
// missing.
WinInetLoad LoadWinInetOnce() {
  WinInetLoad outcome;
  const char* missing = nullptr;
  bool loaded = false;
  auto load = [&] {
    HMODULE module = platform::LoadSystemLibrary(L"wininet.dll");
    if (module == nullptr) return;
    for (const char* name : build_config::kWinInetImports) {
      if (GetProcAddress(module, name) == nullptr) {
        missing = name;
        return;
      }
    }
    loaded = true;
  };
  SehExceptionInfo raised;
  if (!CallGuarded(load, &raised)) {
    outcome.failure.exception_code = raised.code;
    outcome.failure.exception_dll = raised.dll;
    outcome.failure.exception_proc = raised.proc;
    return outcome;
  }
  outcome.loaded = loaded;
  if (!loaded) {
    // Reported as the delay-load helper would have reported it on the first call.
    outcome.failure.exception_code = kDelayLoadFailureCode;
    outcome.failure.exception_dll = "wininet.dll";
    if (missing != nullptr) outcome.failure.exception_proc = missing;
  }
  return outcome;
}

}  // namespace

bool LoadWinInetGuarded(DownloadFailureInfo* failure) {
  static const WinInetLoad outcome = LoadWinInetOnce();
  if (failure != nullptr) *failure = outcome.failure;
  return outcome.loaded;
}

HINTERNET OpenUrlGuarded(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                         DWORD headers_length, DWORD flags, DWORD_PTR context,
                         DownloadFailureInfo* exception) {
  if (exception != nullptr) *exception = DownloadFailureInfo();
  HINTERNET request = nullptr;
  DWORD open_error = 0;
  auto open = [&] {
    request = InternetOpenUrlW(internet, url, headers, headers_length, flags, context);
    open_error = GetLastError();
  };
  SehExceptionInfo raised;
  if (!CallGuarded(open, &raised)) {
    if (exception != nullptr) {
      exception->exception_code = raised.code;
      exception->exception_dll = raised.dll;
      exception->exception_proc = raised.proc;
    }
    return nullptr;
  }
  SetLastError(open_error);
  return request;
}

std::string DescribeException(const DownloadFailureInfo& exception) {
  std::string text = "Exception with code=" + platform::ToString(exception.exception_code);
  if (!exception.exception_dll.empty()) text += "dll_name=" + exception.exception_dll;
  if (!exception.exception_proc.empty()) text += "proc_name=" + exception.exception_proc;
  return text;
}

bool IsCryptoProFailure(const DownloadFailureInfo& exception) {
  return exception.exception_code == kDelayLoadFailureCode &&
         platform::ToLowerAscii(exception.exception_dll) == "cplib.dll" &&
         platform::ToLowerAscii(exception.exception_proc).find("cryptopro") != std::string::npos;
}

}  // namespace installer
