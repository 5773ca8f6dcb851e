// Benchmark program: downloads one URL with DownloadWithProgress a number of times and prints
// the throughput of each run and the process's memory figures before and after.
//   download_bench.exe <url> [runs] [raw]
// With "raw" it reads with a bare WinINet loop instead (1 MB reads, no status query, no
// progress): the ceiling that WinINet itself sets on this machine.
//   download_bench.exe <url> [runs] resume <cut url>
// downloads <cut url> (a server that cuts the file) and then resumes from <url> into the
// same sink, and prints the bytes fetched in all against the file's size.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "network/http_downloader.h"
#include "platform/scoped_handle.h"

namespace {

// Counts the bytes and drops them, so that the figure is the download client's alone.
class DiscardingSink : public installer::DownloadSink {
 public:
  DiscardingSink() : DownloadSink(installer::kMaxArchiveBytes) {}
  bool Reset() override {
    bytes_written_ = 0;
    return true;
  }

 protected:
  bool Append(const void*, uint32_t size) override {
    bytes_written_ += size;
    fetched += size;
    return true;
  }

 public:
  uint64_t fetched = 0;  // every byte taken, also those a Reset dropped
};

// Progress arrives after every chunk, as it would in the installer window.
class CountingObserver : public installer::DownloadObserver {
 public:
  void SetProgress(float) override { ++progress_calls; }
  void OnSlowDownload() override {}
  void SetRemainingTime(uint32_t, int32_t) override {}
  unsigned progress_calls = 0;
};

void PrintMemory(const char* when) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
    printf("memory %s: unavailable (error %lu)\n", when, GetLastError());
    return;
  }
  printf("memory %s: working set %lu KB, peak working set %lu KB, pagefile %lu KB, peak pagefile %lu KB\n",
         when, static_cast<unsigned long>(counters.WorkingSetSize / 1024),
         static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024),
         static_cast<unsigned long>(counters.PagefileUsage / 1024),
         static_cast<unsigned long>(counters.PeakPagefileUsage / 1024));
}

bool RawDownload(const wchar_t* url, installer::DownloadSink& sink) {
  platform::ScopedInternetHandle session(
      InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  platform::ScopedInternetHandle request(
      InternetOpenUrlW(session.get(), url, L"Accept: */*", static_cast<DWORD>(-1),
                       INTERNET_FLAG_RELOAD, 0));
  if (!request) return false;
  static char buffer[1 << 20];
  DWORD read = 0;
  while (InternetReadFile(request.get(), buffer, sizeof(buffer), &read) && read > 0) {
    sink.Write(buffer, read);
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: download_bench <url> [runs]\n");
    return 2;
  }
  int runs = argc > 2 ? _wtoi(argv[2]) : 3;
  bool raw = argc > 3 && std::wstring(argv[3]) == L"raw";
  if (argc > 4 && std::wstring(argv[3]) == L"resume") {
    int failures = 0;
    for (int run = 1; run <= runs; ++run) {
      DiscardingSink sink;
      installer::DownloadOutcome first, second;
      installer::DownloadWithProgress(argv[4], sink, nullptr, nullptr, &first);
      const uint32_t total = first.content_length;
      const std::wstring& first_error = first.error;
      const uint32_t cut = sink.bytes_written();
      installer::DownloadOptions options;
      options.resume_total = total;
      const bool ok =
          installer::DownloadWithProgress(argv[1], sink, nullptr, nullptr, &second, options);
      const std::wstring& report = second.resume_report;
      const std::wstring& error = second.error;
      printf("resume %d: %s cut at %u (%ls), then %ls: %llu bytes fetched in all for a file of "
             "%u bytes = %.3f of its size%s%ls\n",
             run, ok && sink.bytes_written() == total ? "ok" : "FAILED", cut, first_error.c_str(),
             report.c_str(), static_cast<unsigned long long>(sink.fetched), total,
             total ? static_cast<double>(sink.fetched) / total : 0.0,
             error.empty() ? "" : " error ", error.c_str());
      if (!ok || sink.bytes_written() != total) ++failures;
    }
    return failures == 0 ? 0 : 1;
  }
  PrintMemory("before");
  int failures = 0;
  for (int run = 1; run <= runs; ++run) {
    DiscardingSink sink;
    CountingObserver observer;
    installer::DownloadOutcome outcome;
    const std::wstring& error = outcome.error;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool ok = raw ? RawDownload(argv[1], sink)
                  : installer::DownloadWithProgress(argv[1], sink, nullptr, &observer, &outcome);
    QueryPerformanceCounter(&end);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    double mb_per_s = sink.bytes_written() / seconds / 1e6;
    printf("run %d: %s %u bytes in %.3f s = %.1f MB/s (%u progress calls)%s%ls\n", run,
           ok ? "ok" : "FAILED", sink.bytes_written(), seconds, mb_per_s, observer.progress_calls,
           error.empty() ? "" : " error ", error.c_str());
    if (!ok) ++failures;
  }
  PrintMemory("after");
  return failures == 0 ? 0 : 1;
}
