// How the install flow reports to whoever shows its progress.
//
// The flow runs on a worker thread; implementations that own a window may only post
// messages or hide child windows from these calls (the proxy's credentials prompt, too, is
// handed to the window's thread, and the call waits for its answer). The listener pointer handed to the flow
// may be null (silent runs): every call is skipped then.
#ifndef INSTALL_PROGRESS_LISTENER_H_
#define INSTALL_PROGRESS_LISTENER_H_

#include <windows.h>
#include <wininet.h>

#include <cstdint>

namespace installer {

class InternetApi;

class ProgressListener {
 public:
  // Remaining-time kinds.
  static constexpr int32_t kTimeStart = 0;
  static constexpr int32_t kTimeEstimate = 1;
  static constexpr int32_t kTimeFinished = 2;
  // Seconds value meaning "no estimate yet".
  static constexpr uint32_t kNoEstimate = 0xFFFFFFFF;

  virtual ~ProgressListener() = default;
  // Download fraction 0.0 .. 1.0.
  virtual void SetDownloadFraction(float fraction) = 0;
  // The download is expected to take two minutes or more in all.
  virtual void OnLongDownload() = 0;
  virtual void SetRemainingTime(uint32_t seconds, int32_t kind) = 0;
  // The install flow is over; the window may close.
  virtual void Finish() = 0;
  virtual void ShowError(int32_t result_code) = 0;
  // The window that shows the progress, or null.
  virtual HWND WindowHandle() = 0;
  // Overall percent 0 .. 100.
  virtual void SetPercent(int32_t percent) = 0;
  virtual void RemoveCancelButton() = 0;
  // A proxy asked for credentials (407) on the open `request` of `api`. Shows the system's
  // credentials prompt owned by the window, on the window's thread (`ProxyPrompt`), and
  // waits for it or for `stop_event`: ERROR_INTERNET_FORCE_RETRY when the user gave
  // credentials (the request is to be sent again), ERROR_CANCELLED when the user declined
  // or the stop came first (the prompt is then taken down), ERROR_NOT_SUPPORTED where there
  // is no window to ask in (the default).
  virtual DWORD AskProxyCredentials(InternetApi* api, HINTERNET request, HANDLE stop_event) {
    return ERROR_NOT_SUPPORTED;
  }
};

}  // namespace installer

#endif  // INSTALL_PROGRESS_LISTENER_H_
