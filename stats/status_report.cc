#include "stats/status_report.h"

#include "build_config/endpoints.h"
#include "platform/clock.h"
#include "platform/strings.h"
#include "platform/url_escape.h"

namespace installer {

namespace {

// Appends "&key=" + value.
void AppendItem(std::wstring* url, const wchar_t* key, std::wstring_view value) {
  url->append(key);
  url->append(value);
}

// Appends "&key=" + escaped value, or nothing when the value escapes to nothing.
void AppendEscaped(std::wstring* url, const wchar_t* key, std::wstring_view value) {
  std::wstring escaped = platform::EscapeUrl(value);
  if (escaped.empty()) return;
  AppendItem(url, key, escaped);
}

InstallEvent ActionStage(const wchar_t* action, const wchar_t* stage) {
  InstallEvent event;
  SetEventValue(&event, "action", action);
  if (stage) SetEventValue(&event, "stage", stage);
  return event;
}

const wchar_t* SetupActionName(bool has_old_version) {
  return has_old_version ? L"update" : L"setup";
}

}  // namespace

void SetEventValue(InstallEvent* event, const char* key, std::wstring_view value) {
  (*event)[key].assign(value);
}

std::wstring StatusBaseUrl() {
  return platform::WideHttpsUrl(endpoints::kStatusHost, L"/get/browser/install");
}

std::wstring DownloadStatusUrl(const StatusData& data, const DownloadAttempt& attempt) {
  if (data.cancel_count > 0) return std::wstring();
  std::wstring url = StatusBaseUrl();
  url += L"?status=";
  url += attempt.success ? L"success" : L"failed";
  if (attempt.attempt != 0) AppendItem(&url, L"&attempt=", platform::ToWString(attempt.attempt));
  AppendItem(&url, L"&downloaded=", platform::ToWString(attempt.downloaded));
  AppendItem(&url, L"&ui=", data.ui);
  AppendEscaped(&url, L"&url=", attempt.url);
  if (!attempt.final_url.empty()) {
    AppendEscaped(&url, L"&redirect=", platform::ExtractUrlHost(attempt.final_url));
  }
  AppendEscaped(&url, L"&error=", attempt.error);
  AppendEscaped(&url, L"&resume=", attempt.resume);
  return url;
}

bool DownloadFailureEvent(const StatusData& data, const DownloadAttempt& attempt,
                          InstallEvent* event) {
  if (data.cancel_count > 0 || attempt.success) return false;
  InstallEvent result = ActionStage(L"download", L"error");
  std::wstring error = L"attempt-";
  error += platform::ToWString(attempt.attempt);
  error += L'-';
  error += attempt.error;
  SetEventValue(&result, "error", error);
  *event = std::move(result);
  return true;
}

std::wstring InstallationFinishedUrl(const StatusData& data, bool success) {
  std::wstring url = StatusBaseUrl();
  AppendItem(&url, L"?ui=", data.ui);
  url += L"&result=";
  if (data.cancel_count > 0) {
    url += L"cancelled";
  } else {
    url += success ? L"success" : L"failed";
  }
  AppendItem(&url, L"&time=", platform::ToWString(platform::DurationToSeconds(data.total_time_us)));
  // Only an exact zero means "never measured"; a short step still reports "0".
  if (data.download_time_us != 0) {
    AppendItem(&url, L"&download_time=",
               platform::ToWString(platform::DurationToSeconds(data.download_time_us)));
  }
  if (data.install_time_us != 0) {
    AppendItem(&url, L"&install_time=",
               platform::ToWString(platform::DurationToSeconds(data.install_time_us)));
  }
  return url;
}

InstallEvent InstallerStartedEvent() { return ActionStage(L"installer_started", nullptr); }

InstallEvent DownloadStartedEvent() { return ActionStage(L"download", L"started"); }

InstallEvent DownloadFinishedEvent(int64_t download_time_us) {
  InstallEvent event = ActionStage(L"download", L"finished");
  SetEventValue(&event, "download_time",
                platform::ToWString(platform::DurationToSeconds(download_time_us)));
  return event;
}

InstallEvent SetupArcLockErrorEvent() { return ActionStage(L"setup_arc_lock", L"error"); }

InstallEvent VerificationErrorEvent() { return ActionStage(L"verification", L"error"); }

InstallEvent InstallButtonClickedEvent() {
  return ActionStage(L"install_browser_button_clicked", nullptr);
}

std::wstring UacValue(bool uac_notifications_enabled, bool elevated_runner) {
  if (!uac_notifications_enabled) return L"100";
  return elevated_runner ? L"1" : L"0";
}

InstallEvent SetupLaunchedEvent(bool has_old_version, std::wstring_view uac) {
  InstallEvent event = ActionStage(SetupActionName(has_old_version), L"setup_exe_launched");
  SetEventValue(&event, "uac", uac);
  return event;
}

bool SetupExitError(bool started, bool setup_ran, int32_t exit_code, std::wstring* error) {
  if (!started) {
    *error = L"FailedToStart";
    return true;
  }
  if (!setup_ran) {
    if (exit_code == 400) return false;
  } else if (exit_code == 1 || exit_code == 3 || exit_code == 5) {
    return false;
  }
  *error = platform::ToWString(exit_code);
  return true;
}

InstallEvent SetupExitedEvent(bool has_old_version, bool started, bool setup_ran,
                              int32_t exit_code, int64_t install_time_us) {
  InstallEvent event = ActionStage(SetupActionName(has_old_version), L"setup_exe_exited");
  std::wstring error;
  if (SetupExitError(started, setup_ran, exit_code, &error)) SetEventValue(&event, "error", error);
  SetEventValue(&event, "setup_time",
                platform::ToWString(platform::DurationToSeconds(install_time_us)));
  return event;
}

}  // namespace installer
