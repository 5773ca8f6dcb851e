// Optional downloads made in the background while the user looks at the installer window.
//
// When the distribution parameters ask for them ("vup" = "1": the variations seed, "scup" =
// "1": the configuration archive), `AsyncInstallTasks` reserves a unique temporary file name
// for each, keeps copies of each download's arguments and runs the downloads once, in that
// order, on a worker thread of its own. The files live exactly as long as the object: the browser setup reads
// them through the paths, and destruction (stop, join, delete both files) removes them.
//
// A task's failure only means that no file appears at its path; the next task still runs.
// The stop event cancels the remaining tasks and the download in progress at its next chunk.
#ifndef INSTALL_ASYNC_INSTALL_TASKS_H_
#define INSTALL_ASYNC_INSTALL_TASKS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_path.h"
#include "platform/scoped_handle.h"
#include "platform/sync.h"

namespace installer {

class BrandInfo;
class DistribInfoParams;

// Distribution parameters that switch the tasks on (value "1"), and the temporary-file
// prefixes of their files.
inline constexpr char kVariationsTaskParam[] = "vup";
inline constexpr char kConfigsTaskParam[] = "scup";
inline constexpr wchar_t kVariationsFilePrefix[] = L"vup";
inline constexpr wchar_t kConfigsFilePrefix[] = L"scu";

// "https://" + browser API host + "/configs/all_zip", with "?brandID=<brand>" and/or
// "partnerID=<partner>" (joined by "&") for the IDs that are not empty. Nothing is escaped.
std::string ConfigsUrl(std::string_view brand_id, std::string_view partner_id);

// Downloads the configuration archive for the brand and partner to `target`
// (`DownloadToFile`, cancelled by `cancel`). After a failure no file exists at `target`;
// the download client has logged why.
void FetchConfigs(const std::string& brand_id, const std::string& partner_id,
                  const platform::FilePath& target, platform::WaitableEvent* cancel);

// What the two tasks call; the defaults are `FetchVariationsSeed` and `FetchConfigs`.
struct InstallTaskOperations {
  std::function<void(const std::string& url, const platform::FilePath& target,
                     platform::WaitableEvent* cancel)>
      fetch_variations;
  std::function<void(const std::string& brand_id, const std::string& partner_id,
                     const platform::FilePath& target, platform::WaitableEvent* cancel)>
      fetch_configs;

  static InstallTaskOperations Default();
};

class AsyncInstallTasks {
 public:
  // Builds the task list from `params` and `brand` (both only read here) and starts the
  // worker when the list is not empty.
  AsyncInstallTasks(const BrandInfo& brand, const DistribInfoParams& params);
  AsyncInstallTasks(const BrandInfo& brand, const DistribInfoParams& params,
                    InstallTaskOperations operations);
  // Signals the stop event, waits for the worker, deletes both files.
  ~AsyncInstallTasks();
  AsyncInstallTasks(const AsyncInstallTasks&) = delete;
  AsyncInstallTasks& operator=(const AsyncInstallTasks&) = delete;

  // The file names reserved for the tasks; empty when a task is off.
  const platform::FilePath& variations_path() const { return variations_path_; }
  const platform::FilePath& configs_path() const { return configs_path_; }

  bool HasWorkerForTesting() const { return thread_.is_valid(); }
  // Waits up to `timeout_ms` for the worker to run out of tasks; true when it has (or when
  // there is no worker).
  bool WaitForWorkerForTesting(uint32_t timeout_ms);

 private:
  bool InitializeThread();
  static unsigned __stdcall ThreadMain(void* parameter);
  void Run();

  platform::FilePath variations_path_;
  platform::FilePath configs_path_;
  platform::ScopedKernelHandle thread_;
  platform::WaitableEvent stop_event_;
  // Copies of the tasks' arguments: the brand record and the operations may be gone before
  // the worker reaches them. A task runs when its file name was reserved.
  InstallTaskOperations operations_;
  std::string variations_url_;
  std::string brand_id_;
  std::string partner_id_;
};

}  // namespace installer

#endif  // INSTALL_ASYNC_INSTALL_TASKS_H_
