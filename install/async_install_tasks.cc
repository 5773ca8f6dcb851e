#include "install/async_install_tasks.h"

#include <process.h>
#include <windows.h>

#include <utility>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "build_config/endpoints.h"
#include "install/variations_seed.h"
#include "network/http_downloader.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/url_escape.h"

namespace installer {
namespace {

// Reserves a unique name in the temporary folder: the file is created and deleted again at
// once, so the download later creates it under a name no other file has. Empty on failure.
platform::FilePath ReserveTempName(const DistribInfoParams& params, const char* param,
                                   const wchar_t* prefix) {
  std::string value;
  if (!params.Get(param, &value) || value != "1") return platform::FilePath();
  platform::FilePath path;
  if (!platform::MakeTempFile(prefix, &path)) return platform::FilePath();
  platform::DeletePath(path, false);
  return path;
}

}  // namespace

std::string ConfigsUrl(std::string_view brand_id, std::string_view partner_id) {
  std::string url = platform::HttpsUrl(endpoints::kBrowserApiHost, "/configs/all_zip");
  std::string query;
  if (!brand_id.empty()) query.append("brandID=").append(brand_id);
  if (!partner_id.empty()) {
    if (!query.empty()) query += '&';
    query.append("partnerID=").append(partner_id);
  }
  if (!query.empty()) url.append("?").append(query);
  return url;
}

void FetchConfigs(const std::string& brand_id, const std::string& partner_id,
                  const platform::FilePath& target, platform::WaitableEvent* cancel) {
  // The bundle reaches the setup with TLS as its only protection: no retry without the
  // revocation check (the setup runs without the bundle when it fails).
  DownloadToFile(ConfigsUrl(brand_id, partner_id), target.value(), cancel->handle(),
                 kMaxConfigArchiveBytes, /*strict_revocation=*/true);
}

InstallTaskOperations InstallTaskOperations::Default() {
  InstallTaskOperations operations;
  operations.fetch_variations = &FetchVariationsSeed;
  operations.fetch_configs = &FetchConfigs;
  return operations;
}

AsyncInstallTasks::AsyncInstallTasks(const BrandInfo& brand, const DistribInfoParams& params)
    : AsyncInstallTasks(brand, params, InstallTaskOperations::Default()) {}

AsyncInstallTasks::AsyncInstallTasks(const BrandInfo& brand, const DistribInfoParams& params,
                                     InstallTaskOperations operations)
    : stop_event_(platform::WaitableEvent::ResetPolicy::kManual,
                  platform::WaitableEvent::InitialState::kNotSignaled),
      operations_(std::move(operations)),
      variations_url_(brand.variations_url()),
      brand_id_(brand.brand_id()),
      partner_id_(brand.partner_id()) {
  variations_path_ = ReserveTempName(params, kVariationsTaskParam, kVariationsFilePrefix);
  configs_path_ = ReserveTempName(params, kConfigsTaskParam, kConfigsFilePrefix);

  if ((!variations_path_.empty() || !configs_path_.empty()) && !InitializeThread()) {
    logging::LogText(logging::kERROR, "AsyncInstallTasks", __LINE__,
            "Failed to create thread for async install tasks");
  }
}

AsyncInstallTasks::~AsyncInstallTasks() {
  stop_event_.Set();
  // Short: the download in progress gives up on the stop event at once, or at most
  // kCloseGraceMs later when WinINet keeps its call (http_downloader.h).
  if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
  platform::DeletePath(variations_path_, false);
  platform::DeletePath(configs_path_, false);
}

bool AsyncInstallTasks::InitializeThread() {
  uintptr_t thread =
      _beginthreadex(nullptr, 0, &AsyncInstallTasks::ThreadMain, this, 0, nullptr);
  if (thread == 0) return false;
  thread_.reset(reinterpret_cast<HANDLE>(thread));
  return true;
}

bool AsyncInstallTasks::WaitForWorkerForTesting(uint32_t timeout_ms) {
  return !thread_ || WaitForSingleObject(thread_.get(), timeout_ms) == WAIT_OBJECT_0;
}

unsigned __stdcall AsyncInstallTasks::ThreadMain(void* parameter) {
  static_cast<AsyncInstallTasks*>(parameter)->Run();
  return 0;
}

void AsyncInstallTasks::Run() {
  if (!variations_path_.empty()) {
    if (stop_event_.IsSet()) return;
    operations_.fetch_variations(variations_url_, variations_path_, &stop_event_);
  }
  if (!configs_path_.empty()) {
    if (stop_event_.IsSet()) return;
    operations_.fetch_configs(brand_id_, partner_id_, configs_path_, &stop_event_);
  }
}

}  // namespace installer
