// The WinINet calls of the download client, behind an interface.
//
// Production code uses `InternetApi::Default()`, which forwards to WinINet one to one. Tests
// hand the client a fake that plays servers WinINet under Wine cannot play (one whose reads
// fail halfway, one that raises inside the open, one that
// never gives a call back). The download client makes its blocking calls on a thread of its
// own and may close a handle from another thread while a call on it is under way, as
// WinINet allows: an implementation must take that.
#ifndef NETWORK_INTERNET_API_H_
#define NETWORK_INTERNET_API_H_

#include <windows.h>
#include <wininet.h>

#include <utility>

#include "network/open_url_guarded.h"

namespace installer {

class InternetApi {
 public:
  virtual ~InternetApi() = default;

  // Makes sure the library and every function of it are there before the first call, so
  // that no later call can fail to load; false, with what was raised, when they are not.
  // The system's runs `LoadWinInetGuarded`; a stand-in has nothing to load.
  virtual bool Load(SehExceptionInfo* failure) { return true; }

  // Each call has the contract and the last-error behaviour of the WinINet function named.
  virtual HINTERNET Open(const wchar_t* agent, DWORD access_type, const wchar_t* proxy,
                         const wchar_t* proxy_bypass, DWORD flags) = 0;               // InternetOpenW
  virtual INTERNET_STATUS_CALLBACK SetStatusCallback(HINTERNET handle,
                                                     INTERNET_STATUS_CALLBACK callback) = 0;
  virtual HINTERNET OpenUrl(HINTERNET internet, const wchar_t* url, const wchar_t* headers,
                            DWORD headers_length, DWORD flags, DWORD_PTR context) = 0;  // InternetOpenUrlW
  virtual BOOL ReadFile(HINTERNET request, void* buffer, DWORD size, DWORD* read) = 0;
  virtual BOOL QueryInfo(HINTERNET request, DWORD info_level, void* buffer, DWORD* length,
                         DWORD* index) = 0;                                              // HttpQueryInfoA
  virtual BOOL CloseHandle(HINTERNET handle) = 0;                                        // InternetCloseHandle
  virtual BOOL QueryOption(HINTERNET handle, DWORD option, void* buffer, DWORD* length) = 0;  // InternetQueryOptionW
  virtual BOOL SetOption(HINTERNET handle, DWORD option, void* buffer, DWORD length) = 0;     // InternetSetOptionW
  virtual HINTERNET Connect(HINTERNET internet, const wchar_t* host, INTERNET_PORT port,
                            DWORD_PTR context) = 0;  // InternetConnectW, HTTP, no user name
  // HttpOpenRequestW: GET `object` over HTTP/1.1, no referrer, accepting "*/*".
  virtual HINTERNET OpenRequest(HINTERNET connection, const wchar_t* object, DWORD flags,
                                DWORD_PTR context) = 0;
  // HttpSendRequestW without a body; `headers` (zero-terminated, may be null) are added to
  // the request and stay on it when it is sent again.
  virtual BOOL SendRequest(HINTERNET request, const wchar_t* headers) = 0;
  virtual DWORD ErrorDlg(HWND window, HINTERNET request, DWORD error, DWORD flags) = 0;  // InternetErrorDlg

  // The process-wide WinINet implementation.
  static InternetApi* Default();
};

// Owns one handle returned by an InternetApi and closes it through the same api. Closing keeps
// the thread's last error.
class InternetApiHandle {
 public:
  InternetApiHandle() = default;
  ~InternetApiHandle() { reset(); }
  InternetApiHandle(const InternetApiHandle&) = delete;
  InternetApiHandle& operator=(const InternetApiHandle&) = delete;

  [[nodiscard]] HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  [[nodiscard]] HINTERNET release() {
    HINTERNET handle = handle_;
    handle_ = nullptr;
    return handle;
  }

  void reset(InternetApi* api = nullptr, HINTERNET handle = nullptr) {
    if (handle_ != nullptr) {
      DWORD saved = GetLastError();
      api_->CloseHandle(handle_);
      SetLastError(saved);
    }
    api_ = api;
    handle_ = handle;
  }

 private:
  InternetApi* api_ = nullptr;
  HINTERNET handle_ = nullptr;
};

}  // namespace installer

#endif  // NETWORK_INTERNET_API_H_
