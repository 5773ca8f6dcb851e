#include "download/open_url_guarded.h"

#include "download/seh_guard.h"
#include "platform/strings.h"

namespace installer {

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
