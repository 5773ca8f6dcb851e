#include "network/open_url_guarded.h"

#include "build_config/wininet_imports.h"

#include "network/internet_api.h"
#include "platform/seh_guard.h"
#include "platform/strings.h"
#include "platform/system_library.h"

namespace installer {

namespace {

// Runs `call` in a guard; false, with `exception` (may be null) filled, when it raised.
template <typename Call>
bool RunGuarded(Call& call, SehExceptionInfo* exception) {
  SehExceptionInfo raised;
  if (CallGuarded(call, &raised)) return true;
  if (exception != nullptr) *exception = raised;
  return false;
}

struct WinInetLoad {
  bool loaded = false;
  SehExceptionInfo failure;
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
  if (!RunGuarded(load, &outcome.failure)) return outcome;
  outcome.loaded = loaded;
  if (!loaded) {
    // Reported as the delay-load helper would have reported it on the first call.
    outcome.failure.code = kDelayLoadFailureCode;
    outcome.failure.dll = "wininet.dll";
    if (missing != nullptr) outcome.failure.proc = missing;
  }
  return outcome;
}

}  // namespace

bool LoadWinInetGuarded(SehExceptionInfo* failure) {
  static const WinInetLoad outcome = LoadWinInetOnce();
  if (failure != nullptr) *failure = outcome.failure;
  return outcome.loaded;
}

HINTERNET OpenUrlGuarded(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                         DWORD headers_length, DWORD flags, DWORD_PTR context,
                         SehExceptionInfo* exception) {
  if (exception != nullptr) *exception = SehExceptionInfo();
  HINTERNET request = nullptr;
  DWORD open_error = 0;
  auto open = [&] {
    request = InternetOpenUrlW(internet, url, headers, headers_length, flags, context);
    open_error = GetLastError();
  };
  if (!RunGuarded(open, exception)) return nullptr;
  SetLastError(open_error);
  return request;
}

RelaxedSend SendWithoutRevocationCheckGuarded(
    InternetApi* api, HINTERNET internet, const std::wstring& url, const std::wstring& headers,
    DWORD_PTR context,
    const std::function<bool(HINTERNET handle, bool is_request)>& keep,
    SehExceptionInfo* exception) {
  if (exception != nullptr) *exception = SehExceptionInfo();
  // Each step keeps the last error of its call for the caller.
  DWORD error = 0;
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = 1;  // non-zero: point into `url`
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  BOOL cracked = FALSE;
  auto crack = [&] {
    cracked = InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts);
    error = GetLastError();
  };
  if (!RunGuarded(crack, exception)) return RelaxedSend::kRaised;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  if (!cracked || parts.dwHostNameLength == 0 ||
      (!secure && parts.nScheme != INTERNET_SCHEME_HTTP)) {
    SetLastError(cracked ? ERROR_INTERNET_UNRECOGNIZED_SCHEME : error);
    return RelaxedSend::kFailed;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  // A handle a step made is handed to `keep`; a step that made none failed with `error`.
  auto take = [&](HINTERNET handle, bool is_request) {
    if (handle == nullptr) {
      SetLastError(error);
      return false;
    }
    if (!keep(handle, is_request)) {
      SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
      return false;
    }
    return true;
  };
  HINTERNET connection = nullptr;
  auto connect = [&] {
    connection = api->Connect(internet, host.c_str(), parts.nPort, context);
    error = GetLastError();
  };
  if (!RunGuarded(connect, exception)) return RelaxedSend::kRaised;
  if (!take(connection, false)) return RelaxedSend::kFailed;
  HINTERNET request = nullptr;
  auto open = [&] {
    request = api->OpenRequest(connection, object.c_str(),
                               INTERNET_FLAG_RELOAD | (secure ? INTERNET_FLAG_SECURE : 0),
                               context);
    error = GetLastError();
  };
  if (!RunGuarded(open, exception)) return RelaxedSend::kRaised;
  if (!take(request, true)) return RelaxedSend::kFailed;
  BOOL relaxed = FALSE;
  auto relax = [&] {
    DWORD flags = 0;
    DWORD length = sizeof(flags);
    if (!api->QueryOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &length)) flags = 0;
    flags |= SECURITY_FLAG_IGNORE_REVOCATION;
    relaxed = api->SetOption(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    error = GetLastError();
  };
  if (!RunGuarded(relax, exception)) return RelaxedSend::kRaised;
  if (!relaxed) {
    SetLastError(error);
    return RelaxedSend::kNotRelaxed;
  }
  BOOL sent = FALSE;
  auto send = [&] {
    // The Accept header is the request's already; the rest (a range) goes with the send.
    const std::wstring::size_type rest = headers.find(L"\r\n");
    sent = api->SendRequest(request,
                            rest == std::wstring::npos ? nullptr : headers.c_str() + rest + 2);
    error = GetLastError();
  };
  if (!RunGuarded(send, exception)) return RelaxedSend::kRaised;
  SetLastError(error);
  return sent ? RelaxedSend::kSent : RelaxedSend::kFailed;
}

std::string DescribeException(const SehExceptionInfo& exception) {
  std::string text = "Exception with code=" + platform::ToString(exception.code);
  if (!exception.dll.empty()) text += "dll_name=" + exception.dll;
  if (!exception.proc.empty()) text += "proc_name=" + exception.proc;
  return text;
}

bool IsCryptoProFailure(const SehExceptionInfo& exception) {
  return exception.code == kDelayLoadFailureCode &&
         platform::ToLowerAscii(exception.dll) == "cplib.dll" &&
         platform::ToLowerAscii(exception.proc).find("cryptopro") != std::string::npos;
}

}  // namespace installer
