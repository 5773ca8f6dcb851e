#include "install/installer.h"

#include <objbase.h>
#include <shellapi.h>

#include <utility>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/file_version.h"
#include "brand/registry_values.h"
#include "build_config/endpoints.h"
#include "install/archive_check.h"
#include "install/async_install_tasks.h"
#include "install/delayed_params.h"
#include "install/elevated_process.h"
#include "install/elevation.h"
#include "install/progress_listener.h"
#include "install/setup_command_line.h"
#include "install/win10_default_browser.h"
#include "network/async_http_requests.h"
#include "network/download_sink.h"
#include "network/http_downloader.h"
#include "network/open_url_guarded.h"
#include "platform/clock.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "platform/switches.h"
#include "platform/url_escape.h"
#include "platform/windows_version.h"
#include "stats/click_stats.h"
#include "trust/authenticode.h"
#include "trust/module_verifier.h"

namespace installer {
namespace {

constexpr wchar_t kInstallerKindName[] = L"lite";
// Added to every remaining-time estimate for the installation that follows the download.
constexpr uint32_t kInstallTimeAllowanceSeconds = 240;

// Hands the download client's progress to the install flow's listener.
class ProgressForwarder : public DownloadObserver {
 public:
  explicit ProgressForwarder(ProgressListener* listener) : listener_(listener) {}
  void SetProgress(float fraction) override {
    if (listener_) listener_->SetDownloadFraction(fraction);
  }
  void OnSlowDownload() override {
    if (listener_) listener_->OnLongDownload();
  }
  void SetRemainingTime(uint32_t seconds, int32_t kind) override {
    // 32-bit arithmetic on purpose: "no estimate" (all bits set) wraps like the seconds do.
    if (listener_) listener_->SetRemainingTime(seconds + kInstallTimeAllowanceSeconds, kind);
  }
  DWORD AskProxyCredentials(InternetApi* api, HINTERNET request, HANDLE cancel_event) override {
    return listener_ ? listener_->AskProxyCredentials(api, request, cancel_event)
                     : ERROR_NOT_SUPPORTED;
  }
  // What the sink's bytes belong to: the file's size (0 unknown) and its validator. The
  // record of a kept download is written as soon as an answer is taken, so that even a
  // machine that goes down mid-transfer leaves bytes a later run can use.
  void OnAnswerAccepted(const std::string& validator, uint32_t total) override {
    if (held_ == nullptr) return;
    // The age that counts is that of the bytes' first fetch: a run that continues them,
    // or fails to, does not make them any younger.
    if (held_->time_us == 0 || validator != held_->validator || total != held_->total) {
      held_->time_us = platform::WallTimeMicroseconds();
    }
    held_->validator = validator;
    held_->total = total;
    if (!kept_->enabled()) return;
    if (total == 0 || !kept_->Save(*held_)) kept_->RemoveRecord();
  }

  // The record the answers update, and the kept archive it is saved in.
  void TrackAnswers(KeptArchiveRecord* held, const KeptArchive* kept) {
    held_ = held;
    kept_ = kept;
  }

 private:
  ProgressListener* listener_;
  KeptArchiveRecord* held_ = nullptr;
  const KeptArchive* kept_ = nullptr;
};

// Deletes the archive file (and the record of a kept one) when the install step returns,
// after its handles are closed, unless its bytes are kept for the next run.
class ArchiveFileRemover {
 public:
  ArchiveFileRemover(const std::wstring& path, const KeptArchive* kept)
      : path_(path), kept_(kept) {}
  ~ArchiveFileRemover() {
    if (keep_) return;
    platform::DeletePath(platform::FilePath(path_), false);
    if (kept_ != nullptr) kept_->RemoveRecord();
  }
  ArchiveFileRemover(const ArchiveFileRemover&) = delete;
  ArchiveFileRemover& operator=(const ArchiveFileRemover&) = delete;
  void Keep() { keep_ = true; }

 private:
  std::wstring path_;
  const KeptArchive* kept_;
  bool keep_ = false;
};

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) != WAIT_TIMEOUT; }

std::wstring ModuleUrl(const BrandInfo* brand_info) {
  int version_class = platform::WindowsVersionClass();
  if (version_class == platform::kWindowsXp || version_class == platform::kWindowsVista) {
    return platform::WideHttpsUrl(endpoints::kDownloadCdnHost,
                                  L"/browser-partners/_xp_builds/browser-setup.arc");
  }
  return brand_info ? platform::WidenUtf8(brand_info->setup_url()) : std::wstring();
}

}  // namespace

Installer::Installer(InstallerOptions options)
    : requests_(std::make_unique<AsyncHttpRequests>()),
      listener_(options.listener),
      brand_info_(options.brand_info),
      params_(options.params),
      command_line_(std::move(options.command_line)),
      make_prompt_owner_(options.make_prompt_owner),
      vendor_paths_(VendorFilePathsFromCommandLine(command_line_)),
      stat_sender_(kTargetKindBrowser, kInstallerKindLite),
      stop_event_(platform::WaitableEvent::ResetPolicy::kManual,
                  platform::WaitableEvent::InitialState::kNotSignaled),
      install_allowed_event_(platform::WaitableEvent::ResetPolicy::kManual,
                             platform::WaitableEvent::InitialState::kNotSignaled) {
  // A virtual call from the constructor runs this class's own preparation, which is the one
  // every installer needs; subclasses add to it after construction if they must.
  Prepare();
  if (options.prepare_install_tasks && brand_info_ && params_) {
    install_tasks_ = std::make_unique<AsyncInstallTasks>(*brand_info_, *params_);
  }
}

Installer::~Installer() {
  StopAndWait();
  elevated_process_.reset();
  install_tasks_.reset();
  requests_.reset();
}

// --- Thread control -----------------------------------------------------------------------

bool Installer::Start() {
  if (install_thread_) return false;
  stop_event_.Clear();
  install_allowed_event_.Clear();
  install_thread_.reset(CreateThread(nullptr, 0, &Installer::InstallThreadMain, this, 0, nullptr));
  if (!install_thread_) {
    logging::LogText(logging::kERROR, "Start", __LINE__, "Failed to create the install thread");
    return false;
  }
  return true;
}

DWORD WINAPI Installer::InstallThreadMain(void* installer) {
  static_cast<Installer*>(installer)->Install();
  return 0;
}

void Installer::RunSync() {
  stop_event_.Clear();
  install_allowed_event_.Set();
  Install();
}

void Installer::AllowInstall() { install_allowed_event_.Set(); }

void Installer::Stop() {
  CancelSetupStart();
  if (!install_thread_) return;
  stop_event_.Set();
  WaitForSingleObject(install_thread_.get(), stop_wait_ms_);
}

void Installer::StopAndWait() {
  Stop();
  if (!install_thread_ || WaitForSingleObject(install_thread_.get(), 0) != WAIT_TIMEOUT) return;
  // The flow did not stop in time (a setup program still running, a stuck trust check). Its
  // state is still in use and its result not final: wait for it rather than pull the state
  // from under it or read a result it may still write.
  logging::LogText(logging::kERROR, "StopAndWait", __LINE__,
          "The install thread did not stop in time; waiting for it.");
  if (setup_running_)
    logging::LogText(logging::kINFO, "StopAndWait", __LINE__,
            "The exit waits for the setup program to end.");
  WaitForSingleObject(install_thread_.get(), INFINITE);
}

bool Installer::CancelSetupStart() {
  int state = kSetupStartOpen;
  return setup_start_.compare_exchange_strong(state, kSetupStartCancelled) ||
         state == kSetupStartCancelled;
}

bool Installer::CommitSetupStart() {
  int state = kSetupStartOpen;
  return setup_start_.compare_exchange_strong(state, kSetupStartCommitted);
}

void Installer::RecordInstallButtonPress() {
  ok_button_time_.store(platform::WallTimeMicroseconds());
  ok_button_monotonic_.store(platform::MonotonicMicroseconds());
}

// --- Statistics -----------------------------------------------------------------------------

void Installer::Prepare() {
  stat_sender_.SetBrandId(brand_info_ ? std::string_view(brand_info_->brand_id())
                                      : std::string_view("unknown"));
  stat_sender_.SetPartnerId(brand_info_ ? std::string_view(brand_info_->partner_id())
                                        : std::string_view("unknown"));
  if (!params_) return;
  std::string value;
  if (params_->Get("banerid", &value)) stat_sender_.SetBannerId(value);
  if (params_->Get("distr_zorvinuid", &value)) stat_sender_.SetDistrZorvinUid(value);
  if (params_->Get("zorvinuid", &value)) stat_sender_.SetZorvinUid(value);
}

void Installer::Emit(const InstallEvent& event) { requests_->Post(stat_sender_.Send(event)); }

void Installer::ReportButton(const std::wstring& value) {
  requests_->Post(ClickCounterUrl(kClickedButton, value));
}

void Installer::ReportLink(const std::wstring& value) {
  requests_->Post(ClickCounterUrl(kClickedLink, value));
}

void Installer::ReportCheckbox(const std::wstring& value) {
  requests_->Post(ClickCounterUrl(kChoosenCheckbox, value));
}

void Installer::EmitInstallButtonClicked() { Emit(InstallButtonClickedEvent()); }

StatusData Installer::CurrentStatusData() const {
  StatusData data;
  data.ui = ui_;
  data.cancel_count = cancel_counter_.load();
  data.total_time_us = total_time_us_;
  data.download_time_us = download_time_us_;
  data.install_time_us = install_time_us_;
  data.setup_exit_code = result_code_;
  return data;
}

void Installer::ReportStatus(bool success, const std::wstring& url, int32_t attempt,
                             uint32_t downloaded, const std::wstring& error,
                             const std::wstring& final_url, const std::wstring& resume) {
  StatusData data = CurrentStatusData();
  if (data.cancel_count > 0) return;
  DownloadAttempt report;
  report.success = success;
  report.url = url;
  report.attempt = attempt;
  report.downloaded = downloaded;
  report.error = error;
  report.final_url = final_url;
  report.resume = resume;

  StringSink sink(kMaxStatusAnswerBytes);
  sink.set_stops_at_limit(true);
  std::wstring report_error;
  std::wstring report_final_url;
  if (!Download(DownloadStatusUrl(data, report), sink, &report_error, &report_final_url)) {
    logging::LogWithValue(logging::kERROR, "ReportStatus", __LINE__,
                 "Cannot report download status: ", report_error);
  }
  InstallEvent event;
  if (DownloadFailureEvent(data, report, &event)) Emit(event);
}

void Installer::ReportInstallationFinished(bool success) {
  StringSink sink(kMaxStatusAnswerBytes);
  sink.set_stops_at_limit(true);
  std::wstring error;
  std::wstring final_url;
  if (!Download(InstallationFinishedUrl(CurrentStatusData(), success), sink, &error, &final_url)) {
    logging::LogWithValue(logging::kERROR, "ReportInstallationFinished", __LINE__,
                 "Cannot report installation status: ", error);
  }
}

void Installer::MakeRunId() {
  GUID guid;
  wchar_t text[40];
  if (FAILED(CoCreateGuid(&guid)) || StringFromGUID2(guid, text, 40) != 39) {
    ui_.clear();
    return;
  }
  // "{8-4-4-4-12}" without the braces.
  ui_.assign(text + 1, 36);
}

// --- The install flow -------------------------------------------------------------------------

void Installer::Install() {
  Emit(InstallerStartedEvent());
  MakeRunId();
  WriteFilesForSetup();

  uint32_t r = InstallBrowser();
  if (r != 0) {
    // A cancelled or stopped run shows no error: its window is closing.
    if (listener_ && !stop_event_.IsSet() && setup_start_ != kSetupStartCancelled) {
      listener_->ShowError(static_cast<int32_t>(r));
    }
  } else {
    CleanUpAfterSuccess();
  }
  WaitForBrowserMessageWindow();
  ReportInstallationFinished(r == 0);
}

void Installer::WriteFilesForSetup() {
  if (!brand_info_) return;
  StoreValueInRegistry("lang", platform::WidenUtf8(brand_info_->language()));
  // Also stores "InstallerData", "ClidsFile" and "ClidsSearchbandFile".
  VendorFilePaths written = WriteVendorFiles(brand_info_->work_dir(), vendor_paths_);
  {
    platform::AutoLock lock(setup_inputs_lock_);
    vendor_paths_ = std::move(written);
  }
  StoreValueInRegistry("brand", platform::WidenUtf8(brand_info_->brand_name()));
  // Only a package that was written whole is handed on (brand/brand_packages.cc).
  if (brand_info_->brand_package_loaded()) {
    StoreValueInRegistry("BrandFile", brand_info_->brand_package_path());
  } else {
    RemoveValueFromRegistry("BrandFile");
  }
  if (brand_info_->partner_package_loaded()) {
    StoreValueInRegistry("PartnerFile", brand_info_->partner_package_path());
  }
}

void Installer::CleanUpAfterSuccess() {
  for (const char* name : {kInstallerDataValue, kClidsFileValue, kClidsSearchbandFileValue,
                           kDistribInfoParamsValue, "brand", "BrandFile", "PartnerFile"}) {
    RemoveValueFromRegistry(name);
  }
  if (!brand_info_) return;
  for (const std::wstring& path :
       {brand_info_->brand_package_path(), brand_info_->partner_package_path()}) {
    if (!path.empty()) platform::DeletePath(platform::FilePath(path), false);
  }
}

void Installer::WaitForBrowserMessageWindow() {
  if (!listener_) return;
  // The installed browser keeps a message-only window while it still reports to this one.
  // Any window of that class holds the run, so each step is logged, and a stop (the user
  // closing the window) ends the wait.
  for (;;) {
    if (stop_event_.WaitFor(message_window_poll_ms_)) {
      logging::LogText(logging::kINFO, "WaitForBrowserMessageWindow", __LINE__,
              "Stopped while the browser window was there.");
      return;
    }
    if (!FindWindowExW(HWND_MESSAGE, nullptr, kBrowserMessageWindowClass, nullptr)) {
      listener_->Finish();
      return;
    }
    LOG(INFO, "WaitForBrowserMessageWindow")
        << "The browser's message window is still there; waiting " << message_window_poll_ms_
        << " ms more.";
  }
}

uint32_t Installer::InstallBrowser() {
  logging::LogText(logging::kINFO, "InstallBrowser", __LINE__, "Install Browser.");
  // A run that may keep its bytes downloads into the one kept archive, resuming what an
  // earlier run left there.
  const KeptArchive kept(kept_folder_);
  std::unique_ptr<ArchiveLock> kept_lock;
  if (kept.enabled() && !ModuleUrl(brand_info_).empty()) kept_lock = kept.Prepare();
  keeping_ = kept_lock != nullptr;
  archive_path_ = keeping_ ? kept.archive_path() : GetModulePath().value();
  if (archive_path_.empty()) return 1;

  std::string lock_value;
  const bool permanent_lock =
      params_ && params_->Get("setup_arc_permanent_lock", &lock_value) && !lock_value.empty();

  logging::LogWithValue(logging::kINFO, "InstallBrowser", __LINE__, "Executable path: ", archive_path_);
  // GetModulePath left an empty placeholder; from here on the archive is removed again
  // whenever this function returns (the remover is destroyed after every handle below),
  // unless a download that did not end keeps its bytes.
  if (!keeping_) platform::DeletePath(platform::FilePath(archive_path_), false);
  ArchiveFileRemover remover(archive_path_, keeping_ ? &kept : nullptr);

  const int64_t obtain_start = platform::MonotonicMicroseconds();
  // The kept archive stays on the handle Prepare opened, from the download to the setup run
  // (declared after the remover, so it is closed before the file is removed).
  const bool hold_lock = permanent_lock || keeping_;
  std::unique_ptr<ArchiveLock> archive_lock = std::move(kept_lock);
  uint32_t r = GetModule(archive_path_, hold_lock ? &archive_lock : nullptr);
  if (r != 0) {
    if (kept_bytes_) remover.Keep();
    return r;
  }
  const int64_t obtain_end = platform::MonotonicMicroseconds();

  HANDLE waits[] = {stop_event_.handle(), install_allowed_event_.handle()};
  DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  const int64_t consent = platform::MonotonicMicroseconds();
  if (wait != WAIT_OBJECT_0 + 1) {
    logging::LogText(logging::kERROR, "InstallBrowser", __LINE__,
            "Installation after download event isn't in signal state or "
            "installation was stopped early.");
    return 1;
  }

  platform::ScopedKernelHandle execution_lock;
  for (bool downloaded_again = false;; downloaded_again = true) {
    // A lock that was to be held from the download on and is not there fails as one that
    // cannot be converted: a lock taken only now could hold other bytes than those fetched.
    ArchiveCheck check = ArchiveCheck::kNotLocked;
    if (hold_lock && !archive_lock) {
      logging::LogWithValue(logging::kERROR, "InstallBrowser", __LINE__,
                   "Cannot lock file: ", archive_path_);
    } else {
      check = LockAndVerifyArchive(this, archive_path_, hold_lock ? archive_lock.get() : nullptr,
                                   &execution_lock, "InstallBrowser");
    }
    if (check == ArchiveCheck::kNotLocked) {
      if (permanent_lock) Emit(SetupArcLockErrorEvent());
      return 1;
    }
    if (check == ArchiveCheck::kVerified) break;
    // Bytes from two answers (a resume, maybe of another run's download) or a body whose
    // end nobody could check may be what failed, not the publisher's archive: it is
    // fetched whole once more before the run gives up.
    if (downloaded_again || !(archive_spliced_ || archive_length_unknown_)) {
      logging::LogWithValue(logging::kERROR, "InstallBrowser", __LINE__,
                   "Module verification failed: ", archive_path_);
      result_code_ = kResultVerificationFailed;
      Emit(VerificationErrorEvent());
      return 1;
    }
    LOG(ERROR, "InstallBrowser") << "The archive "
                                 << (archive_spliced_ ? "put together by a resume"
                                                      : "that came without a length")
                                 << " failed verification; it is downloaded once more from "
                                    "byte 0: " << archive_path_;
    archive_lock.reset();
    execution_lock.reset();
    if (keeping_) kept.RemoveRecord();
    r = GetModule(archive_path_, hold_lock ? &archive_lock : nullptr);
    if (r != 0) {
      if (kept_bytes_) remover.Keep();
      return r;
    }
  }

  logging::LogWithValue(logging::kINFO, "InstallBrowser", __LINE__,
               "Verification succeeded: ", archive_path_);
  // A cancel confirmed or a window closed while the archive was locked and verified wins;
  // from here on, a cancel is too late.
  if (!CommitSetupStart()) {
    logging::LogText(logging::kERROR, "InstallBrowser", __LINE__,
            "Installation was cancelled before the setup started.");
    return 1;
  }
  const int64_t launch = platform::MonotonicMicroseconds();
  // The setup program and an elevated installer reload the statistics variables.
  stat_sender_.Save();
  const bool elevated = elevated_process_ != nullptr;
  Emit(SetupLaunchedEvent(stat_sender_.HasOldVersion(),
                          UacValue(AreUACNotificationsEnabled(), elevated)));

  bool ok = false;
  bool started = true;
  if (!elevated) {
    setup_started_ = false;
    ok = RunModule(archive_path_, BuildSetupCommandLine(archive_path_, true));
    started = setup_started_;
  } else {
    DelayedParams delayed;
    delayed.browser_arc_path = archive_path_;
    delayed.clids_file_path = vendor_paths_.clids;
    delayed.clids_searchband_file_path = vendor_paths_.clids_searchband;
    delayed.installer_data_path = vendor_paths_.installer_data;
    if (brand_info_ && brand_info_->brand_package_loaded()) {
      delayed.brand_package_path = brand_info_->brand_package_path();
    }
    if (brand_info_ && brand_info_->partner_package_loaded()) {
      delayed.partner_package_path = brand_info_->partner_package_path();
    }
    delayed.partner_package_override_path = partner_package_override_path_;
    delayed.send_statistics = send_statistics_;
    delayed.make_default = make_default_;
    if (!elevated_process_->WriteDelayedParams(delayed)) {
      logging::LogText(logging::kERROR, "InstallBrowser", __LINE__,
              "Unexpected error in CreateDelayedParamsMapping()");
      return 1;
    }
    // The run cannot be cancelled any more: the window drops its button (the copy hides it
    // too, but the window is not told).
    if (listener_) listener_->RemoveCancelButton();
    ok = RunModuleInElevatedProcess();
    // A setup that the copy ran to its end counts as if it had run here: its exit code is
    // the result, whatever it is. Otherwise nothing ran and the result stays "not started".
    if (ok) result_code_ = static_cast<int32_t>(elevated_process_->exit_code());
  }

  // Unlock before the archive is deleted.
  archive_lock.reset();
  execution_lock.reset();

  install_time_us_ = platform::MonotonicMicroseconds() - launch;
  const bool setup_ran = !elevated || ok;
  Emit(SetupExitedEvent(stat_sender_.HasOldVersion(), started, setup_ran, result_code_,
                        install_time_us_));
  elevated_process_.reset();

  if (!ok) return 1;
  if (command_line_.Has(switches::kDoNotLaunchBrowser) && listener_) {
    listener_->SetPercent(100);
    listener_->Finish();
    listener_ = nullptr;
  }
  total_time_us_ = (obtain_end - obtain_start) + (platform::MonotonicMicroseconds() - consent);
  return 0;
}

uint32_t Installer::InterfaceAvailabilityCode() {
  // Its own lock: the first check starts the interface-check child and waits for it (up to
  // 3 s), which must not hold the writers of the other setup inputs.
  platform::AutoLock lock(interface_availability_lock_);
  if (!interface_availability_checked_) {
    interface_availability_checked_ = true;
    interface_availability_ = 0;
    if (platform::WindowsVersionClass() >= platform::kWindows10) {
      win10_default_browser::IsInterfaceAvailable(&interface_availability_);
    }
  }
  return interface_availability_;
}

CommandLine Installer::BuildSetupCommandLine(const std::wstring& setup_path, bool with_files) {
  SetupCommandLineInputs in;
  in.interface_availability = InterfaceAvailabilityCode();
  // The window's thread builds the elevated copy's command line while the install thread
  // may still be writing these: they are copied under the lock, and the inputs view the
  // copies. Every other input views what outlives this call.
  VendorFilePaths vendor_paths;
  {
    platform::AutoLock lock(setup_inputs_lock_);
    in.download_time_us = download_time_us_;
    vendor_paths = vendor_paths_;
  }
  in.installer_data_path = vendor_paths.installer_data;
  in.clids_path = vendor_paths.clids;
  in.clids_searchband_path = vendor_paths.clids_searchband;
  in.setup_path = setup_path;
  in.with_files = with_files;
  in.disable_uac = disable_uac_;
  in.progress_window =
      reinterpret_cast<uintptr_t>(listener_ ? listener_->WindowHandle() : nullptr);
  if (brand_info_) in.brand_name = brand_info_->brand_name();
  if (params_) in.distr_info_file = params_->distr_info_file();
  in.make_default = make_default_;
  in.send_statistics = send_statistics_;
  in.ok_button_time = ok_button_time_.load();
  in.ok_button_monotonic = ok_button_monotonic_.load();
  in.prompt_start = prompt_start_;
  in.prompt_end = prompt_end_;
  if (brand_info_ && brand_info_->brand_package_loaded()) {
    in.brand_package_path = brand_info_->brand_package_path();
  }
  if (brand_info_ && brand_info_->partner_package_loaded()) {
    in.partner_package_path = brand_info_->partner_package_path();
  }
  in.partner_package_override_path = partner_package_override_path_;
  if (params_) in.show_uac_at_browser_start = GetUacMode(*params_, command_line_) == kUacModeAtBrowserStart;
  if (install_tasks_) {
    in.variations_path = install_tasks_->variations_path().value();
    in.server_config_bundle_path = install_tasks_->configs_path().value();
  }
  return installer::BuildSetupCommandLine(command_line_, in);
}

// --- Obtaining the archive ------------------------------------------------------------------

platform::FilePath Installer::GetModulePath() {
  if (!brand_info_ || brand_info_->work_dir().empty()) return platform::FilePath();
  wchar_t name[MAX_PATH] = {};
  if (GetTempFileNameW(brand_info_->work_dir().c_str(), L"jx", 0, name) == 0 || name[0] == 0) {
    logging::LogText(logging::kERROR, "GetModulePath", __LINE__, "Cannot obtain temp file.");
    return platform::FilePath();
  }
  return platform::FilePath(name);
}

uint32_t Installer::GetModule(const std::wstring& path, std::unique_ptr<ArchiveLock>* lock) {
  const int64_t start = platform::MonotonicMicroseconds();
  bool downloaded = false;
  uint32_t r = DownloadOrExtractModule(path, &downloaded, lock);
  // The fetch once more after a failed verification is part of the same download: its
  // time and events are the first fetch's.
  const bool again = module_reported_;
  module_reported_ = true;
  if (!again) {
    platform::AutoLock guard(setup_inputs_lock_);
    download_time_us_ = platform::MonotonicMicroseconds() - start;
  }
  if (r != 0) {
    logging::LogWithValue(logging::kERROR, "GetModule", __LINE__, "Module was not downloaded: ", path);
    result_code_ = r == kModuleProxyAuthRequired ? kResultProxyAuthRequired : kResultModuleMissing;
    return r;
  }
  logging::LogWithValue(logging::kINFO, "GetModule", __LINE__, "Module downloaded: ", path);
  stat_sender_.SetNewVersion(GetFileVersionString(path));
  if (downloaded && !again) {
    stat_sender_.SetInstallType("normal");
    Emit(DownloadFinishedEvent(download_time_us_));
  }
  return r;
}

uint32_t Installer::DownloadOrExtractModule(const std::wstring& path, bool* downloaded,
                                            std::unique_ptr<ArchiveLock>* lock) {
  platform::ScopedKernelHandle own_file;
  HANDLE file = nullptr;
  // The kept archive is opened as it is; whoever holds it open owns it (and its record).
  if (lock) {
    if (!*lock) *lock = std::make_unique<ArchiveLock>(path, keeping_);
    file = (*lock)->IsValid() ? (*lock)->handle() : nullptr;
  } else {
    own_file.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                               keeping_ ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    file = own_file.get();
  }
  if (!file || file == INVALID_HANDLE_VALUE) {
    logging::LogWithValue(logging::kERROR, "DownloadOrExtractModule", __LINE__, "Cannot create file:", path);
    return kModuleCreateFailed;
  }
  kept_held_ = 0;
  kept_record_ = KeptArchiveRecord();
  kept_bytes_ = false;
  if (keeping_) {
    LARGE_INTEGER size = {};
    const KeptArchive kept(kept_folder_);
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart <= kMaxArchiveBytes &&
        kept.Reuse(platform::Narrow(ModuleUrl(brand_info_)), static_cast<uint64_t>(size.QuadPart),
                   &kept_record_)) {
      const LARGE_INTEGER zero = {};
      if (SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        kept_held_ = static_cast<uint32_t>(size.QuadPart);
      }
    }
    if (kept_held_ == 0) {
      // Nothing worth resuming: the file starts empty, as a new one would.
      const LARGE_INTEGER zero = {};
      if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        logging::LogWithValue(logging::kERROR, "DownloadOrExtractModule", __LINE__,
                     "Cannot create file:", path);
        return kModuleCreateFailed;
      }
    }
  }
  if (ExtractBrowserSetupResource(file)) {
    *downloaded = false;
    return kModuleReady;
  }
  logging::LogWithValue(logging::kINFO, "DownloadOrExtractModule", __LINE__,
               "Try to download module:", path);
  uint32_t r = DownloadModule(file);
  *downloaded = r == kModuleReady;
  return r;
}

bool Installer::ExtractBrowserSetupResource(HANDLE file) { return false; }

uint32_t Installer::DownloadModule(HANDLE file) {
  FileSink sink(file, kMaxArchiveBytes, kept_held_);
  const std::wstring url = ModuleUrl(brand_info_);
  if (url.empty()) {
    logging::LogText(logging::kERROR, "DownloadModule", __LINE__, "Setup url is empty.");
    return kModuleDownloadFailed;
  }
  if (!module_reported_) Emit(DownloadStartedEvent());
  ProgressForwarder forwarder(listener_);
  KeptArchiveRecord held = kept_record_;
  held.url = platform::Narrow(url);
  const KeptArchive kept(keeping_ ? kept_folder_ : std::wstring());
  forwarder.TrackAnswers(&held, &kept);
  archive_spliced_ = kept_held_ > 0;
  archive_length_unknown_ = false;

  int attempt = 0;
  for (;;) {
    if (IsSet(stop_event_.handle())) break;
    DownloadOutcome outcome;
    DownloadOptions options;
    options.api = internet_api_;
    options.bounds = download_bounds_;
    options.resume_total = sink.bytes_written() > 0 ? held.total : 0;
    options.resume_validator = sink.bytes_written() > 0 ? held.validator : std::string();
    const bool ok = DownloadWithProgress(url, sink, stop_event_.handle(), &forwarder, &outcome,
                                         options);
    // Only a 206 puts two answers together; a 200 (or an emptied sink) starts a file anew.
    if (outcome.resume_report.rfind(L"resume-206-", 0) == 0 && sink.bytes_written() > 0) {
      archive_spliced_ = true;
    } else if (!outcome.resume_report.empty() || sink.bytes_written() == 0) {
      archive_spliced_ = false;
    }
    if (ok) {
      ++attempt;
      archive_length_unknown_ = outcome.content_length == 0;
      ReportStatus(true, url, attempt, sink.bytes_written(), outcome.error, outcome.final_url,
                   outcome.resume_report);
      return kModuleReady;
    }
    if (outcome.exception.code != 0) {
      LOG(ERROR, "DownloadModule") << DescribeException(outcome.exception);
      KeepBytes(kept, sink, &held);
      return IsCryptoProFailure(outcome.exception) ? kModuleCryptoProFailure
                                                   : kModuleDownloadFailed;
    }
    // The bytes stay whatever their share of the file: the next attempt asks for the rest.
    ++attempt;
    ReportStatus(false, url, attempt, sink.bytes_written(), outcome.error, outcome.final_url,
                 outcome.resume_report);
    // No further attempt can change these: the same answer again, or the same question to
    // a user who just declined it. Without a window the proxy's question has its own result.
    if (outcome.answer_too_large) return kModuleDownloadFailed;
    if (outcome.proxy_auth_required) {
      return listener_ ? kModuleDownloadFailed : kModuleProxyAuthRequired;
    }
    if (attempt >= kMaxDownloadAttempts) break;
    WaitForSingleObject(stop_event_.handle(), attempt_pause_ms_);
  }
  KeepBytes(kept, sink, &held);
  LOG(ERROR, "DownloadModule") << "Max download attempts failed (" << kMaxDownloadAttempts << ")";
  return kModuleDownloadFailed;
}

void Installer::KeepBytes(const KeptArchive& kept, const FileSink& sink, KeptArchiveRecord* held) {
  if (!kept.enabled()) return;
  kept_bytes_ = sink.bytes_written() > 0 && held->total > sink.bytes_written() && kept.Save(*held);
  if (!kept_bytes_) kept.RemoveRecord();
  if (kept_bytes_) {
    LOG(INFO, "DownloadModule") << "The download's " << sink.bytes_written() << " of "
                                << held->total << " bytes are kept for the next run.";
  }
}

bool Installer::Download(const std::wstring& url, DownloadSink& sink, std::wstring* error,
                         std::wstring* final_url) {
  logging::LogWithValue(logging::kINFO, "Download", __LINE__, "Attempt to download module: ", url);
  sink.Reset();
  DownloadOptions options;
  options.bounds = status_bounds_;
  DownloadOutcome outcome;
  const bool ok = DownloadWithProgress(url, sink, nullptr, nullptr, &outcome, options);
  if (error != nullptr) *error = outcome.error;
  if (final_url != nullptr) *final_url = outcome.final_url;
  return ok;
}

// --- Verification -----------------------------------------------------------------------------

bool Installer::VerifyModuleSignature(const std::wstring& archive_path) {
  return VerifyModuleWithTrustJson(archive_path, GetTrustJsonFromModule(archive_path));
}

bool Installer::VerifyModuleWithTrustJson(const std::wstring& archive_path,
                                          const std::string& trusted_json) {
  TrustedCertificateIds trusted_ids;
  ParseTrustedJson(trusted_json, &trusted_ids);
  const bool revocation_off = false;
  bool result = CheckAuthenticode(trusted_ids, archive_path, revocation_off);
  if (!result && revocation_off) result = CheckAuthenticode(trusted_ids, archive_path, false);
  return result;
}

bool Installer::CheckAuthenticode(const TrustedCertificateIds& trusted_ids,
                                  const std::wstring& archive_path, bool revocation_off) {
  return installer::CheckAuthenticode(trusted_ids, archive_path, revocation_off);
}

// --- Running the setup ------------------------------------------------------------------------

bool Installer::RunModule(const std::wstring& archive_path, const CommandLine& command_line) {
  CommandLine setup(command_line);
  setup.SetProgramPath(archive_path);
  setup.Put(switches::kSource, kInstallerKindName);
  return RunModuleAndWait(nullptr, setup.Print(), &result_code_);
}

bool Installer::RunModuleAndWait(const wchar_t* program, const std::wstring& command_line_text,
                                 int32_t* result_code) {
  logging::LogWithValue(logging::kINFO, "RunModuleAndWait", __LINE__, "Run: ", command_line_text);
  *result_code = kResultNotStarted;
  std::wstring mutable_text = command_line_text;
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process_info = {};
  if (!CreateProcessW(program, mutable_text.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup_info, &process_info)) {
    logging::LogText(logging::kERROR, "RunModuleAndWait", __LINE__, "Create process failed.");
    return false;
  }
  setup_started_ = true;
  platform::ScopedKernelHandle process(process_info.hProcess);
  platform::ScopedKernelHandle thread(process_info.hThread);
  logging::LogWithValue(logging::kINFO, "RunModuleAndWait", __LINE__,
                        "Process created: ", process_info.dwProcessId);
  if (listener_) {
    listener_->SetPercent(40);
    listener_->RemoveCancelButton();
  }
  thread.reset();

  logging::LogText(logging::kINFO, "RunModuleAndWait", __LINE__, "Wait for process finish.");
  // A setup is never abandoned half-way: a stop waits for it (see ~Installer).
  setup_running_ = true;
  const DWORD waited = WaitForSingleObject(process.get(), INFINITE);
  setup_running_ = false;
  if (waited != WAIT_OBJECT_0) {
    logging::LogText(logging::kERROR, "RunModuleAndWait", __LINE__, "Wait process failed.");
    return false;
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.get(), &exit_code)) {
    logging::LogText(logging::kERROR, "RunModuleAndWait", __LINE__, "Get setup process exit code failed.");
    return false;
  }
  logging::LogWithValue(logging::kINFO, "RunModuleAndWait", __LINE__,
               "Setup process exit with code: ", logging::FormatSetupExitCode(exit_code));
  *result_code = static_cast<int32_t>(exit_code);
  return true;
}

// --- Elevation --------------------------------------------------------------------------------

bool Installer::ExecuteAsAdmin() {
  prompt_start_ = platform::MonotonicMicroseconds();
  // The child writes its lines through this process's log handle (platform/logging.h).
  logging::ShareLogWithElevatedChild();

  // The old record goes first: its destructor may still tell its child to stop.
  elevated_process_.reset();
  elevated_process_ = std::make_unique<ElevatedProcess>();
  if (!elevated_process_->ready()) {
    // Events somebody else made could release the child at any moment: no child at all.
    elevated_process_.reset();
    logging::LogText(logging::kERROR, "ExecuteAsAdmin", __LINE__, "The elevated installer is not started.");
    prompt_end_ = platform::MonotonicMicroseconds();
    return false;
  }

  CommandLine child(command_line_);
  child.Put(switches::kRunAsAdmin);
  elevated_process_->PutChildSwitches(&child);
  child.Put(switches::kParentInstallerProcessId, platform::ToString(GetCurrentProcessId()));
  child.Put(switches::kSetupCmdLine, BuildSetupCommandLine(L"fake_browser_arc", false).Print());
  const std::wstring& file = command_line_.ProgramPath();
  // The program goes in its own field: the parameters are printed without it.
  child.SetProgramPath(L"");
  const std::wstring parameters = child.Print();

  HWND owner = make_prompt_owner_ ? make_prompt_owner_() : nullptr;

  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = owner;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  const bool ok = StartElevated(&info);
  if (ok) {
    elevated_process_->Attach(info.hProcess, owner);
  } else {
    elevated_process_.reset();
    if (reinterpret_cast<INT_PTR>(info.hInstApp) == SE_ERR_ACCESSDENIED) disable_uac_ = true;
    if (owner) DestroyWindow(owner);
  }
  prompt_end_ = platform::MonotonicMicroseconds();
  return ok;
}

bool Installer::StartElevated(SHELLEXECUTEINFOW* info) { return ShellExecuteExW(info) != FALSE; }

bool Installer::RunModuleInElevatedProcess() {
  logging::LogText(logging::kINFO, "RunModuleInElevatedProcess", 805,
          "Started waiting the elevated installer has finished its work.");
  // Like a setup run here, the copy's run is never abandoned once it confirmed its go: a
  // stop waits for it.
  setup_running_ = true;
  bool success = elevated_process_ && elevated_process_->RunModule(stop_event());
  setup_running_ = false;
  logging::LogWithValue(logging::kINFO, "RunModuleInElevatedProcess", 807,
                        "The elevated installer has finished, success=", success);
  return success;
}

}  // namespace installer
