// WinINet itself, with every session opened through one proxy instead of the system's
// settings: a proxy for the client under test alone.
//
// Setting the proxy in the prefix's registry would send every process of the prefix through
// it, tests running at the same time included (and a crash would leave it set). Handing this
// to the client instead (`Installer::SetInternetApiForTesting`) proxies that client's
// requests only, with no bypass list: "localhost" goes through the proxy as well.
#ifndef TESTS_SUPPORT_PROXIED_INTERNET_API_H_
#define TESTS_SUPPORT_PROXIED_INTERNET_API_H_

#include <string>

#include "network/internet_api.h"

namespace test_support {

class ProxiedInternetApi : public installer::InternetApi {
 public:
  // `proxy` as WinINet takes it, e.g. "localhost:47448".
  explicit ProxiedInternetApi(std::wstring proxy) : proxy_(std::move(proxy)) {}

  bool Load(installer::SehExceptionInfo* failure) override { return real()->Load(failure); }
  // INTERNET_OPEN_TYPE_PROXY through `proxy`, whatever access type is asked for.
  HINTERNET Open(const wchar_t* agent, DWORD access_type, const wchar_t* proxy,
                 const wchar_t* proxy_bypass, DWORD flags) override;
  INTERNET_STATUS_CALLBACK SetStatusCallback(HINTERNET handle,
                                             INTERNET_STATUS_CALLBACK callback) override {
    return real()->SetStatusCallback(handle, callback);
  }
  HINTERNET OpenUrl(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                    DWORD headers_length, DWORD flags, DWORD_PTR context) override {
    return real()->OpenUrl(internet, url, headers, headers_length, flags, context);
  }
  BOOL ReadFile(HINTERNET request, void* buffer, DWORD size, DWORD* read) override {
    return real()->ReadFile(request, buffer, size, read);
  }
  BOOL QueryInfo(HINTERNET request, DWORD info_level, void* buffer, DWORD* length,
                 DWORD* index) override {
    return real()->QueryInfo(request, info_level, buffer, length, index);
  }
  BOOL CloseHandle(HINTERNET handle) override { return real()->CloseHandle(handle); }
  BOOL QueryOption(HINTERNET handle, DWORD option, void* buffer, DWORD* length) override {
    return real()->QueryOption(handle, option, buffer, length);
  }
  BOOL SetOption(HINTERNET handle, DWORD option, void* buffer, DWORD length) override {
    return real()->SetOption(handle, option, buffer, length);
  }
  HINTERNET Connect(HINTERNET internet, const wchar_t* host, INTERNET_PORT port,
                    DWORD_PTR context) override {
    return real()->Connect(internet, host, port, context);
  }
  HINTERNET OpenRequest(HINTERNET connection, const wchar_t* object, DWORD flags,
                        DWORD_PTR context) override {
    return real()->OpenRequest(connection, object, flags, context);
  }
  BOOL SendRequest(HINTERNET request, const wchar_t* headers) override {
    return real()->SendRequest(request, headers);
  }
  DWORD ErrorDlg(HWND window, HINTERNET request, DWORD error, DWORD flags) override {
    return real()->ErrorDlg(window, request, error, flags);
  }

 private:
  static InternetApi* real() { return InternetApi::Default(); }
  std::wstring proxy_;
};

}  // namespace test_support

#endif  // TESTS_SUPPORT_PROXIED_INTERNET_API_H_
