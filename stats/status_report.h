// What the install flow tells the status server, and the install events it emits.
//
// Pure builders: they take the flow's figures and return the request URL or the
// `InstallEvent`, and leave fetching and queuing to the caller (the `Installer`). The two
// status requests go to "https://" + status host + "/get/browser/install"; install events go
// through `InstallStatSender::Send` and `AsyncHttpRequests::Post`.
//
// Durations are 64-bit microsecond counts from a monotonic clock. They are reported as whole
// seconds truncated toward zero; the largest value, which stands for "unbounded", is sent as
// that largest value. Nothing here fails: a value that cannot be escaped, or a final URL
// whose host cannot be found, only drops its own query key.
//
// How the install flow uses this:
//   ReportStatus:     url = DownloadStatusUrl(data, attempt); if (!url.empty()) fetch it;
//                     if (DownloadFailureEvent(data, attempt, &event)) Post(sender.Send(event));
//   ReportInstallationFinished: fetch InstallationFinishedUrl(data, success);
//   setup launch:     Post(sender.Send(SetupLaunchedEvent(sender.HasOldVersion(), uac)));
//   setup end:        Post(sender.Send(SetupExitedEvent(sender.HasOldVersion(), ...)));
#ifndef STATS_STATUS_REPORT_H_
#define STATS_STATUS_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "stats/install_event.h"

namespace installer {

// The `Installer` fields the status requests read. The caller fills it at the moment of the
// report (the cancel counter read after a full memory barrier).
struct StatusData {
  std::wstring ui;                // this run's identifier, sent unescaped
  int32_t cancel_count = 0;       // above 0: the user cancelled
  int64_t total_time_us = 0;      // working time of the install step, 0 until set
  int64_t download_time_us = 0;   // time spent obtaining the setup archive, 0 until set
  int64_t install_time_us = 0;    // setup launch to its end, 0 until set
  int32_t setup_exit_code = 400;  // the `Installer`'s result code
};

// One download attempt as `DownloadModule` reports it.
// The texts are views of the caller's strings.
struct DownloadAttempt {
  bool success = false;
  std::wstring_view url;        // the URL that was tried
  int32_t attempt = 0;          // 1-based attempt number
  uint32_t downloaded = 0;      // bytes held by the sink after the attempt
  std::wstring_view error;      // the attempt's error text, empty on success
  std::wstring_view final_url;  // where redirects ended, empty when unknown
  std::wstring_view resume;     // how a resume was answered ("resume-206-<offset>"), or empty
};

// "https://" + status host + "/get/browser/install".
std::wstring StatusBaseUrl();

// The download status request, or the empty string when the run was cancelled (then
// nothing at all is reported for the attempt, not even the failure event).
std::wstring DownloadStatusUrl(const StatusData& data, const DownloadAttempt& attempt);

// For a failed attempt of a run that was not cancelled: true with `download`/`error` and
// error = "attempt-" + number + "-" + raw error text. False, `event` untouched, otherwise.
bool DownloadFailureEvent(const StatusData& data, const DownloadAttempt& attempt,
                          InstallEvent* event);

// The installation result request; sent also for a cancelled run (result "cancelled").
std::wstring InstallationFinishedUrl(const StatusData& data, bool success);

// Events of the table of install steps.
InstallEvent InstallerStartedEvent();
InstallEvent DownloadStartedEvent();
InstallEvent DownloadFinishedEvent(int64_t download_time_us);
InstallEvent SetupArcLockErrorEvent();
InstallEvent VerificationErrorEvent();
InstallEvent InstallButtonClickedEvent();

// "100" when administrator consent prompts are off (`AreUACNotificationsEnabled` false),
// otherwise "1" with the elevated runner and "0" without it.
std::wstring UacValue(bool uac_notifications_enabled, bool elevated_runner);

// `setup_exe_launched` with its `uac` value (from `UacValue`).
InstallEvent SetupLaunchedEvent(bool has_old_version, std::wstring_view uac);

// The `error` value of `setup_exe_exited`; false when the event carries no error key.
// `setup_ran`: the setup program ran to its end, here or in the elevated copy, and
// `exit_code` is its own; false when the elevated copy ran none and `exit_code` is the
// installer's own result. Not started: "FailedToStart". Setup not run: none for 400. Setup
// run: none for 1, 3 and 5. Any other exit code in signed decimal (so a 0 is reported as "0").
bool SetupExitError(bool started, bool setup_ran, int32_t exit_code, std::wstring* error);

// `setup_exe_exited` with the optional `error` and `setup_time` (install time in seconds).
InstallEvent SetupExitedEvent(bool has_old_version, bool started, bool setup_ran,
                              int32_t exit_code, int64_t install_time_us);

}  // namespace installer

#endif  // STATS_STATUS_REPORT_H_
