#include "network/open_url_guarded.h"

#include "build_config/wininet_imports.h"

#include "network/internet_api.h"
#include "platform/logging.h"
#include "platform/seh_guard.h"
#include "platform/strings.h"
#include "platform/system_library.h"

namespace installer {

namespace {

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
  if (!CallGuarded(load, &outcome.failure)) return outcome;
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

namespace {

RelaxedSend SendWithoutRevocationCheck(
    InternetApi* api, HINTERNET internet, const std::wstring& url, const std::wstring& headers,
    DWORD_PTR context, HandleKeeper& keep, SehExceptionInfo* exception) {
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
  if (!CallGuarded(crack, exception)) return RelaxedSend::kRaised;
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
    if (!keep.Keep(handle, is_request)) {
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
  if (!CallGuarded(connect, exception)) return RelaxedSend::kRaised;
  if (!take(connection, false)) return RelaxedSend::kFailed;
  HINTERNET request = nullptr;
  auto open = [&] {
    request = api->OpenRequest(connection, object.c_str(),
                               INTERNET_FLAG_RELOAD | (secure ? INTERNET_FLAG_SECURE : 0),
                               context);
    error = GetLastError();
  };
  if (!CallGuarded(open, exception)) return RelaxedSend::kRaised;
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
  if (!CallGuarded(relax, exception)) return RelaxedSend::kRaised;
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
  if (!CallGuarded(send, exception)) return RelaxedSend::kRaised;
  SetLastError(error);
  return sent ? RelaxedSend::kSent : RelaxedSend::kFailed;
}

}  // namespace

RelaxedSend OpenUrlGuarded(InternetApi* api, HINTERNET internet, const std::wstring& url,
                           const std::wstring& headers, DWORD_PTR context, bool relax_revocation,
                           HandleKeeper& keep, SehExceptionInfo* exception) {
  if (exception != nullptr) *exception = SehExceptionInfo();
  if (relax_revocation) {
    return SendWithoutRevocationCheck(api, internet, url, headers, context, keep, exception);
  }
  HINTERNET request = nullptr;
  DWORD error = 0;
  auto open = [&] {
    request = api->OpenUrl(internet, url.c_str(), headers.c_str(), static_cast<DWORD>(-1),
                           INTERNET_FLAG_RELOAD, context);
    error = GetLastError();
  };
  if (!CallGuarded(open, exception)) return RelaxedSend::kRaised;
  if (request == nullptr) {
    SetLastError(error);
    return RelaxedSend::kFailed;
  }
  if (!keep.Keep(request, true)) {
    SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
    return RelaxedSend::kFailed;
  }
  SetLastError(error);
  return RelaxedSend::kSent;
}

bool RetryWithoutRevocationCheck(RelaxedSend sent, DWORD error, const char* tag,
                                 const std::wstring& url) {
  if (sent != RelaxedSend::kFailed || error != ERROR_INTERNET_SEC_CERT_REV_FAILED) return false;
  // Offices that block the certificate authority's revocation servers fail here. The
  // request is tried once more without that one check; every other certificate check
  // (a chain to a trusted root, the name, the dates) stays. The archive and the seed
  // carry signatures that are checked before they are used, and the answers to status
  // requests and pings are not read; a download that only TLS vouches for asks for the
  // strict check and is not retried.
  LOG(WARNING, tag) << "The revocation of the server's certificate could not be checked "
                       "(12057); trying once more without that check: "
                    << url;
  return true;
}

std::string DescribeException(const SehExceptionInfo& exception) {
  std::string text = "Exception with code=";
  text += platform::ToString(exception.code);
  if (!exception.dll.empty()) {
    text += "dll_name=";
    text += exception.dll;
  }
  if (!exception.proc.empty()) {
    text += "proc_name=";
    text += exception.proc;
  }
  return text;
}

bool IsCryptoProFailure(const SehExceptionInfo& exception) {
  return exception.code == kDelayLoadFailureCode &&
         platform::ToLowerAscii(exception.dll) == "cplib.dll" &&
         platform::ToLowerAscii(exception.proc).find("cryptopro") != std::string::npos;
}

}  // namespace installer
