// Times the stretch of a silent installation between the end of the archive download and the
// start of the setup program, for tools/bench_setup_start.sh: the consent check, the archive
// lock, the signature verification, the statistics saved for the setup and the launch event.
//   setup_start_bench <archive file, Windows path> [runs]
// Each run is a whole install flow against the fake publisher, which serves the given file as
// the setup archive (the stand-in setup program, run with LI_STAND_IN_WINDOW_MS=0). The two
// moments are taken where the flow's own steps meet: when `GetModule` returns and when
// `RunModule` is entered.
// Prints "run <n>: <ms> ms (download <ms> ms)" per run, then "min <ms> ms, median <ms> ms".
// Exit code 0 when every run reached the setup and it exited 0, 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "build_config/endpoints.h"
#include "install/installer.h"
#include "platform/command_line.h"
#include "platform/file_path.h"
#include "platform/file_util.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "tests/support/publisher_log.h"

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

class TimedInstaller : public installer::Installer {
 public:
  using Installer::Installer;

  uint32_t GetModule(const std::wstring& path,
                     std::unique_ptr<installer::ArchiveLock>* lock) override {
    QueryPerformanceCounter(&download_start_);
    uint32_t result = Installer::GetModule(path, lock);
    QueryPerformanceCounter(&module_ready_);
    module_ready_taken_ = true;
    return result;
  }

  bool RunModule(const std::wstring& archive_path,
                 const installer::CommandLine& command_line) override {
    QueryPerformanceCounter(&run_module_);
    run_module_taken_ = true;
    return Installer::RunModule(archive_path, command_line);
  }

  bool complete() const { return module_ready_taken_ && run_module_taken_; }
  double download_ms() const { return Milliseconds(download_start_, module_ready_); }
  double setup_start_ms() const { return Milliseconds(module_ready_, run_module_); }

 private:
  LARGE_INTEGER download_start_ = {};
  LARGE_INTEGER module_ready_ = {};
  LARGE_INTEGER run_module_ = {};
  bool module_ready_taken_ = false;
  bool run_module_taken_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: setup_start_bench <archive file> [runs]\n");
    return 2;
  }
  const std::string archive = platform::Narrow(argv[1]);
  const int runs = argc > 2 ? std::max(1, _wtoi(argv[2])) : 7;

  platform::FilePath root;
  if (!platform::MakeTempFolder(L"li_bench", &root)) {
    std::fprintf(stderr, "cannot make a temporary folder\n");
    return 1;
  }
  // The shipped program logs every step to a file; so does this one.
  logging::InitLogging(root.value() + L"\\lite_installer.log");
  const std::wstring key = L"Software\\ZorvinBench\\setup_start_" +
                           platform::ToWString(GetCurrentProcessId());
  installer::SetBrowserRegistryKeyPathForTesting(key);
  SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
  SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", nullptr);

  std::vector<double> times;
  bool all_ok = true;
  for (int run = 1; run <= runs; ++run) {
    platform::FilePath work;
    if (!platform::MakeTempFolderIn(root, L"run", &work)) {
      all_ok = false;
      break;
    }
    installer::BrandInfo brand(work.value() + L"\\");
    brand.set_brand_id("zorvin");
    brand.set_brand_name("zorvin");
    brand.set_language("en");
    // A path of this run only, so that nothing cached or scripted answers it.
    brand.set_setup_url(std::string("https://") + endpoints::kDownloadHost + "/f/file=" +
                        test_support::EscapeSegment(archive) + "/browser/bench" +
                        platform::ToString(GetCurrentProcessId()) + "x" +
                        platform::ToString(run) + "/browser-setup.arc");
    installer::DistribInfoParams params;
    int32_t result = 0;
    bool complete = false;
    double download_ms = 0;
    double setup_start_ms = 0;
    {
      TimedInstaller flow({nullptr, &brand, &params, true, installer::ProcessCommandLine()});
      flow.RunSync();
      result = flow.result_code();
      complete = flow.complete();
      download_ms = flow.download_ms();
      setup_start_ms = flow.setup_start_ms();
    }
    platform::DeletePath(work, true);
    if (!complete || result != 0) {
      std::printf("run %d: failed (result code %ld)\n", run, static_cast<long>(result));
      all_ok = false;
      continue;
    }
    times.push_back(setup_start_ms);
    std::printf("run %d: %.1f ms (download %.1f ms)\n", run, setup_start_ms, download_ms);
    std::fflush(stdout);
  }

  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  installer::SetBrowserRegistryKeyPathForTesting(L"");
  platform::DeletePath(root, true);
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("min %.1f ms, median %.1f ms (%u runs)\n", times.front(), median,
                static_cast<unsigned>(n));
  }
  return all_ok && !times.empty() ? 0 : 1;
}
