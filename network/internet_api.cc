#include "network/internet_api.h"

namespace installer {
namespace {

class WinInetApi : public InternetApi {
 public:
  bool Load(SehExceptionInfo* failure) override { return LoadWinInetGuarded(failure); }
  HINTERNET Open(const wchar_t* agent, DWORD access_type, const wchar_t* proxy,
                 const wchar_t* proxy_bypass, DWORD flags) override {
    return InternetOpenW(agent, access_type, proxy, proxy_bypass, flags);
  }
  INTERNET_STATUS_CALLBACK SetStatusCallback(HINTERNET handle,
                                             INTERNET_STATUS_CALLBACK callback) override {
    return InternetSetStatusCallbackW(handle, callback);
  }
  HINTERNET OpenUrl(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                    DWORD headers_length, DWORD flags, DWORD_PTR context) override {
    return InternetOpenUrlW(internet, url, headers, headers_length, flags, context);
  }
  BOOL ReadFile(HINTERNET request, void* buffer, DWORD size, DWORD* read) override {
    return InternetReadFile(request, buffer, size, read);
  }
  BOOL QueryInfo(HINTERNET request, DWORD info_level, void* buffer, DWORD* length,
                 DWORD* index) override {
    return HttpQueryInfoA(request, info_level, buffer, length, index);
  }
  BOOL CloseHandle(HINTERNET handle) override { return InternetCloseHandle(handle); }
  BOOL QueryOption(HINTERNET handle, DWORD option, void* buffer, DWORD* length) override {
    return InternetQueryOptionW(handle, option, buffer, length);
  }
  BOOL SetOption(HINTERNET handle, DWORD option, void* buffer, DWORD length) override {
    return InternetSetOptionW(handle, option, buffer, length);
  }
  HINTERNET Connect(HINTERNET internet, const wchar_t* host, INTERNET_PORT port,
                    DWORD_PTR context) override {
    return InternetConnectW(internet, host, port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                            context);
  }
  HINTERNET OpenRequest(HINTERNET connection, const wchar_t* object, DWORD flags,
                        DWORD_PTR context) override {
    const wchar_t* accept[] = {L"*/*", nullptr};
    return HttpOpenRequestW(connection, L"GET", object, nullptr, nullptr, accept, flags,
                            context);
  }
  BOOL SendRequest(HINTERNET request, const wchar_t* headers) override {
    return HttpSendRequestW(request, headers, headers ? static_cast<DWORD>(-1) : 0, nullptr, 0);
  }
  DWORD ErrorDlg(HWND window, HINTERNET request, DWORD error, DWORD flags) override {
    return InternetErrorDlg(window, request, error, flags, nullptr);
  }
};

}  // namespace

InternetApi* InternetApi::Default() {
  // Never destroyed: at exit a request thread left behind (http_downloader.h) may still come
  // back from WinINet and close its handles through it after static objects are gone.
  static InternetApi* const api = new WinInetApi;
  return api;
}

}  // namespace installer
