// The install flow.
//
// `Installer` obtains the browser setup archive, waits for the user's consent, locks and
// verifies the archive and runs its setup program, directly or through an elevated copy of
// the installer, reporting every stage to the status and statistics services. It owns its
// threads (the install thread and the two background workers), its events, the statistics
// senders and the result code that becomes the process exit code:
//   400  nothing decided yet (also: stopped, lock or start failures)
//   401  the archive could not be obtained
//   402  the archive failed verification
//   407  a proxy asked for credentials and the run had no window to ask the user for them
//   any other value: the setup program's exit code.
//
// The steps are virtual so that tests (and the elevated child, which only runs the setup)
// can replace one step as a whole. Progress goes to an optional `ProgressListener`, called on
// the install thread; statistics never change the course of the install.
#ifndef INSTALL_INSTALLER_H_
#define INSTALL_INSTALLER_H_

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "brand/vendor_files.h"
#include "network/http_downloader.h"
#include "network/kept_archive.h"
#include "platform/archive_lock.h"
#include "platform/command_line.h"
#include "platform/file_path.h"
#include "platform/scoped_handle.h"
#include "platform/sync.h"
#include "stats/install_event.h"
#include "stats/install_stat_sender.h"
#include "stats/status_report.h"
#include "trust/trusted_json.h"

namespace installer {

class AsyncHttpRequests;
class AsyncInstallTasks;
class BrandInfo;
class DistribInfoParams;
class DownloadSink;
class FileSink;
class ElevatedProcess;
class InternetApi;
class ProgressListener;

// Results of obtaining the archive.
enum ModuleResult : uint32_t {
  kModuleReady = 0,            // the archive is complete in the file
  kModuleCreateFailed = 1,     // the archive file could not be created
  kModuleDownloadFailed = 2,   // no URL, five failed attempts, stopped, or a WinINet exception
  kModuleCryptoProFailure = 3, // a delay-load failure inside an old crypto provider library
  kModuleProxyAuthRequired = 4,  // a proxy asked for credentials and none could be given
};

inline constexpr int32_t kResultNotStarted = 400;
inline constexpr int32_t kResultModuleMissing = 401;
inline constexpr int32_t kResultVerificationFailed = 402;
inline constexpr int32_t kResultProxyAuthRequired = 407;

inline constexpr int kMaxDownloadAttempts = 5;
inline constexpr uint32_t kAttemptPauseMs = 15000;
inline constexpr uint32_t kStopWaitMs = 60000;
inline constexpr uint32_t kMessageWindowPollMs = 20000;
inline constexpr wchar_t kBrowserMessageWindowClass[] = L"ZorvinBrowser_MessageWindow";

// What the runner of a flow decides for it: the entry its run, the window its own part.
struct InstallerOptions {
  // Called on the install thread; null for a run without a window.
  ProgressListener* listener = nullptr;
  // Either may be null (the elevated child has neither); both outlive the flow.
  const BrandInfo* brand_info = nullptr;
  const DistribInfoParams* params = nullptr;
  // The variations seed and the server configuration bundle are fetched in the background
  // when the distribution parameters ask for them.
  bool prepare_install_tasks = false;
  // The installer's own command line: the UAC mode, the vendor files' paths and the setup's
  // and the elevated copy's command lines are taken from it.
  CommandLine command_line;
  // Makes the invisible owner of the elevation prompt on the thread that calls
  // `ExecuteAsAdmin` (the elevated copy's record destroys it); null: the prompt has none.
  HWND (*make_prompt_owner)() = nullptr;
};

class Installer {
 public:
  explicit Installer(InstallerOptions options);
  virtual ~Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  // --- Thread control -------------------------------------------------------------------
  // Starts the install thread (the window's way); false when the thread cannot be created
  // or is already there (a later call leaves the running flow and its consent alone).
  bool Start();
  // Runs the whole flow on the calling thread without waiting for consent (silent runs).
  void RunSync();
  // The user agreed to install.
  void AllowInstall();
  // Asks the flow to give up (`CancelSetupStart`, then the stop event) and waits up to 60 s
  // for the install thread. A setup that has started is waited for all the same.
  void Stop();
  // `Stop`, then waits for the install thread however long it takes (a setup that works on
  // after the window was told to close): the result code is final afterwards. Never on a
  // thread the setup may wait for, such as the thread of a window that still exists.
  void StopAndWait();
  // The one decision between a cancel (or a stop) and the start of the setup, directly or
  // by releasing the elevated copy; whichever comes first wins, once, on any thread. True
  // when no setup will start in this run (also when it was cancelled before); false when
  // one has started: the run then goes on to its end, as after "Resume".
  bool CancelSetupStart();

  // --- Choices and times from the entry flow and the window -----------------------------
  void set_make_default(bool make_default) { make_default_ = make_default; }
  void set_send_statistics(bool send_statistics) { send_statistics_ = send_statistics; }
  bool make_default() const { return make_default_; }
  bool send_statistics() const { return send_statistics_; }
  // Records the moment the install button was pressed.
  void RecordInstallButtonPress();
  // The user cancelled or closed the window (any thread).
  void IncrementCancelCounter() { cancel_counter_.fetch_add(1); }

  // --- Statistics used by the window ----------------------------------------------------
  void ReportButton(const std::wstring& value);
  void ReportLink(const std::wstring& value);
  void ReportCheckbox(const std::wstring& value);
  void EmitInstallButtonClicked();

  // --- The kept download ---------------------------------------------------------------
  // The folder where a partly downloaded archive waits for the next run (see
  // network/kept_archive.h); `KeptArchiveFolderForThisProcess` until set, empty: none.
  void set_kept_archive_folder(const std::wstring& folder) { kept_folder_ = folder; }

  // --- Elevation ------------------------------------------------------------------------
  // Restarts the installer elevated through the shell's "runas" verb and keeps the child
  // waiting for the archive; false when the restart was not made (then the setup command
  // line gets "disable-uac" if the user declined).
  bool ExecuteAsAdmin();
  bool has_elevated_process() const { return elevated_process_ != nullptr; }

  int32_t result_code() const { return result_code_; }
  // This run's identifier in the status requests (made when the flow starts).
  const std::wstring& run_id() const { return ui_; }
  const std::wstring& archive_path() const { return archive_path_; }
  HANDLE stop_event() const { return stop_event_.handle(); }

  // --- Steps (virtual so that each can be replaced as a whole) --------------------------
  // Releases the elevated child and waits for its end (a stop ends the wait only until the
  // child confirmed its go); true when the child ran the setup to its end, whose exit code
  // it then reported.
  virtual bool RunModuleInElevatedProcess();
  // Runs the setup program at `archive_path` with `command_line` (plus "source"="lite") and
  // waits for it; true when it ran to its end and its exit code was read.
  virtual bool RunModule(const std::wstring& archive_path, const CommandLine& command_line);
  // Statistics identifiers and the two events.
  virtual void Prepare();
  // One plain download of `url` into `sink` without progress, within the few seconds of
  // kStatusRequestBounds (the status requests; a stop does not cut them short, so the last
  // report of a cancelled run still goes out).
  virtual bool Download(const std::wstring& url, DownloadSink& sink, std::wstring* error,
                        std::wstring* final_url);
  // Up to five attempts with resume into the open archive file (which may hold the bytes of
  // an earlier run, see `set_kept_archive_folder`); an answer past its cap or a proxy that
  // wants credentials ends them at once.
  virtual uint32_t DownloadModule(HANDLE file);
  // Always false: this installer never carries the archive itself.
  virtual bool ExtractBrowserSetupResource(HANDLE file);
  // A new unique file name in the work folder; empty on failure.
  virtual platform::FilePath GetModulePath();
  // Obtains the archive at `path`, timing it; with `lock`, the file stays locked afterwards.
  virtual uint32_t GetModule(const std::wstring& path, std::unique_ptr<ArchiveLock>* lock);
  virtual bool VerifyModuleSignature(const std::wstring& archive_path);
  virtual bool VerifyModuleWithTrustJson(const std::wstring& archive_path,
                                         const std::string& trusted_json);
  virtual bool CheckAuthenticode(const TrustedCertificateIds& trusted_ids,
                                 const std::wstring& archive_path, bool revocation_off);

  // --- Test seams -----------------------------------------------------------------------
  void SetAttemptPauseForTesting(uint32_t pause_ms) { attempt_pause_ms_ = pause_ms; }
  void SetMessageWindowPollForTesting(uint32_t poll_ms) { message_window_poll_ms_ = poll_ms; }
  void SetStopWaitForTesting(uint32_t wait_ms) { stop_wait_ms_ = wait_ms; }
  // The archive download over another WinINet (borrowed; null: WinINet itself).
  void SetInternetApiForTesting(InternetApi* api) { internet_api_ = api; }
  // Bounds of the archive's requests and of the status requests.
  void SetRequestBoundsForTesting(const RequestBounds& download, const RequestBounds& status) {
    download_bounds_ = download;
    status_bounds_ = status;
  }
  AsyncHttpRequests& requests_for_testing() { return *requests_; }

 protected:
  // The outer flow: files and registry values for the setup, `InstallBrowser`, clean-up,
  // the wait for the browser's message window and the final report.
  void Install();
  // 0 when the setup ran to its end; 1 for failures here; 1, 2 or 3 from `GetModule`.
  uint32_t InstallBrowser();
  uint32_t DownloadOrExtractModule(const std::wstring& path, bool* downloaded,
                                   std::unique_ptr<ArchiveLock>* lock);
  // Runs `command_line_text`; the exit code goes to *result_code (400 until read).
  bool RunModuleAndWait(const wchar_t* program, const std::wstring& command_line_text,
                        int32_t* result_code);
  CommandLine BuildSetupCommandLine(const std::wstring& setup_path, bool with_files);
  // The shell start of the elevated copy (ShellExecuteExW with `info`); replaced by tests,
  // since a test cannot answer the elevation prompt.
  virtual bool StartElevated(SHELLEXECUTEINFOW* info);

  // Statistics.
  void Emit(const InstallEvent& event);
  void ReportStatus(bool success, const std::wstring& url, int32_t attempt, uint32_t downloaded,
                    const std::wstring& error, const std::wstring& final_url,
                    const std::wstring& resume = std::wstring());
  void ReportInstallationFinished(bool success);
  StatusData CurrentStatusData() const;

  ProgressListener* listener() const { return listener_; }
  // The record of the elevated child `ExecuteAsAdmin` started; null without one.
  ElevatedProcess* elevated_process() const { return elevated_process_.get(); }

 private:
  static DWORD WINAPI InstallThreadMain(void* installer);
  void MakeRunId();
  void WriteFilesForSetup();
  void CleanUpAfterSuccess();
  // After a download that did not end: whether the sink's bytes stay for the next run (a
  // kept archive with a total they fall short of), with their record brought up to date.
  void KeepBytes(const KeptArchive& kept, const FileSink& sink, KeptArchiveRecord* held);
  void WaitForBrowserMessageWindow();
  // The Windows 10 interface availability, checked once per run (any thread).
  uint32_t InterfaceAvailabilityCode();
  // The install thread's side of `CancelSetupStart`: true when the setup may start now.
  bool CommitSetupStart();

  // Destroyed last: every other member may still queue statistics.
  std::unique_ptr<AsyncHttpRequests> requests_;
  std::unique_ptr<AsyncInstallTasks> install_tasks_;

  ProgressListener* listener_;
  const BrandInfo* brand_info_;
  const DistribInfoParams* params_;
  const CommandLine command_line_;
  HWND (*const make_prompt_owner_)();
  // What the install thread writes while the window's thread may build the elevated copy's
  // setup command line (`ExecuteAsAdmin`): the vendor paths and the download time are
  // written, and read off the install thread, under this lock.
  platform::CriticalLock setup_inputs_lock_;
  VendorFilePaths vendor_paths_;
  InstallStatSender stat_sender_;

  bool make_default_ = false;
  bool send_statistics_ = false;
  bool disable_uac_ = false;
  std::unique_ptr<ElevatedProcess> elevated_process_;
  int32_t result_code_ = kResultNotStarted;
  std::wstring archive_path_;
  std::wstring partner_package_override_path_;

  platform::WaitableEvent stop_event_;
  platform::WaitableEvent install_allowed_event_;
  platform::ScopedKernelHandle install_thread_;

  // Statistics data of this run (durations in microseconds, 0 until set).
  std::wstring ui_;
  std::atomic<int32_t> cancel_counter_{0};
  int64_t total_time_us_ = 0;
  int64_t download_time_us_ = 0;
  int64_t install_time_us_ = 0;
  // Times for the setup command line: the install button (wall and monotonic clock) and
  // the elevation prompt (monotonic).
  std::atomic<int64_t> ok_button_time_{0};
  std::atomic<int64_t> ok_button_monotonic_{0};
  int64_t prompt_start_ = 0;
  int64_t prompt_end_ = 0;

  // Whether a setup of this run may still start (`CancelSetupStart`).
  enum SetupStart : int { kSetupStartOpen, kSetupStartCancelled, kSetupStartCommitted };
  std::atomic<int> setup_start_{kSetupStartOpen};
  // Whether the last RunModuleAndWait created its process (for the "FailedToStart" report).
  bool setup_started_ = false;
  // The install thread is waiting for a setup process, its own or the elevated copy's (read
  // by the destructor's thread).
  std::atomic<bool> setup_running_{false};
  // The Windows 10 interface availability, checked once per run under its own lock.
  platform::CriticalLock interface_availability_lock_;
  bool interface_availability_checked_ = false;
  uint32_t interface_availability_ = 0;

  // The kept download: its folder; whether this run keeps its bytes there; what the file
  // held when it was opened and what those bytes belong to; whether the bytes are to stay
  // after this run.
  std::wstring kept_folder_ = KeptArchiveFolderForThisProcess();
  bool keeping_ = false;
  uint32_t kept_held_ = 0;
  KeptArchiveRecord kept_record_;
  bool kept_bytes_ = false;
  // The first GetModule of this run is over (its time and events are taken).
  bool module_reported_ = false;
  // The complete archive was put together from more than one answer, or came without a
  // length: a failed verification may then be the download's fault.
  bool archive_spliced_ = false;
  bool archive_length_unknown_ = false;

  uint32_t attempt_pause_ms_ = kAttemptPauseMs;
  InternetApi* internet_api_ = nullptr;
  RequestBounds download_bounds_ = kDownloadBounds;
  RequestBounds status_bounds_ = kStatusRequestBounds;
  uint32_t message_window_poll_ms_ = kMessageWindowPollMs;
  uint32_t stop_wait_ms_ = kStopWaitMs;
};

}  // namespace installer

#endif  // INSTALL_INSTALLER_H_
