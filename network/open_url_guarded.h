// Opening a URL with WinINet behind a structured-exception guard.
//
// WinINet is delay-loaded, and third-party modules hook into it (proxies, certificate
// revocation providers). A failure to load it, or a crash inside such a module while a URL is
// opened, must end that one request, not the process. `OpenUrlGuarded` opens a URL (a
// download's and a statistics ping's alike) inside guards and reports what was raised; the
// helpers below turn the report (`SehExceptionInfo`: its fields stay empty when nothing was
// raised) into the log text and recognise one known culprit, an old revocation provider.
#ifndef NETWORK_OPEN_URL_GUARDED_H_
#define NETWORK_OPEN_URL_GUARDED_H_

#include <windows.h>
#include <wininet.h>

#include <string>

#include "platform/seh_guard.h"

namespace installer {

class InternetApi;

// The request headers every download and statistics request is opened with.
inline constexpr wchar_t kAcceptAnyHeader[] = L"Accept: */*";

// Loads WinINet and binds every function the program imports from it, once per process,
// inside a structured-exception guard: afterwards no WinINet call can raise a delay-load
// failure. False when that failed, with what was raised in `*failure` (may be null); every
// later call gives the same answer.
bool LoadWinInetGuarded(SehExceptionInfo* failure);

// Takes each handle an open makes, at once (`is_request` false for the connection), and owns
// it from then on; false when the open is to go no further.
class HandleKeeper {
 public:
  virtual bool Keep(HINTERNET handle, bool is_request) = 0;

 protected:
  ~HandleKeeper() = default;
};

// How `OpenUrlGuarded` ended.
enum class RelaxedSend {
  kSent,        // the request went out and the headers of its answer came back
  kNotRelaxed,  // the request refused the relaxed check (the last error says why); not sent
  kFailed,      // a step failed (the last error says why), or `keep` gave up (12017)
  kRaised,      // a step raised; `exception` says what
};

// Opens `url` on `internet` through `api` with `headers`, INTERNET_FLAG_RELOAD and `context`,
// each WinINet call in a structured-exception guard, and hands each handle made to `keep`
// at once (`is_request` false for the connection), which owns it from then on; when `keep`
// returns false nothing more is done. Without `relax_revocation` it is InternetOpenUrlW's
// GET. With it, the second try of a request whose server certificate's revocation could not
// be checked (12057): the same GET built step by step (InternetConnectW, HttpOpenRequestW,
// SECURITY_FLAG_IGNORE_REVOCATION added to the request's security flags, HttpSendRequestW
// with `headers` after the Accept header HttpOpenRequestW gave), so that this one check is
// relaxed on the request itself whatever the status callback does; every other certificate
// check stays. `exception` (may be null) is cleared first; the thread's last error is the
// one the failing call left.
RelaxedSend OpenUrlGuarded(InternetApi* api, HINTERNET internet, const std::wstring& url,
                           const std::wstring& headers, DWORD_PTR context, bool relax_revocation,
                           HandleKeeper& keep, SehExceptionInfo* exception);

// After an open without `relax_revocation` that ended with `sent` and the last error
// `error`: true, with a WARNING line under `tag`, when it is to be tried once more with it,
// because the revocation of the server's certificate could not be checked (12057).
bool RetryWithoutRevocationCheck(RelaxedSend sent, DWORD error, const char* tag,
                                 const std::wstring& url);

// "Exception with code=<unsigned decimal>" + "dll_name=<dll>" when the library name is not
// empty + "proc_name=<proc>" when the procedure name is not empty, with no separators.
std::string DescribeException(const SehExceptionInfo& exception);

// True for a delay-load failure whose library is "cplib.dll" (any case) and whose procedure
// name contains "cryptopro" (any case).
bool IsCryptoProFailure(const SehExceptionInfo& exception);

}  // namespace installer

#endif  // NETWORK_OPEN_URL_GUARDED_H_
