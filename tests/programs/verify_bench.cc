// Times the archive verification on one file, for tools/bench_verification.sh.
//   verify_bench <absolute path> [runs]
// Prints one line per run: "run <n>: list <ms> ms, authenticode <ms> ms, total <ms> ms, <ok|refused>".
// Exit code 0 when every run verified the file, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "trust/authenticode.h"
#include "trust/module_verifier.h"
#include "trust/trusted_json.h"

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: verify_bench <absolute path> [runs]\n");
    return 2;
  }
  const std::wstring path = argv[1];
  const int runs = argc > 2 ? _wtoi(argv[2]) : 3;
  bool all_ok = true;
  for (int run = 1; run <= runs; ++run) {
    LARGE_INTEGER start, listed, end;
    QueryPerformanceCounter(&start);
    const std::string json = installer::GetTrustJsonFromModule(path);
    installer::TrustedCertificateIds ids;
    installer::ParseTrustedJson(json, &ids);
    QueryPerformanceCounter(&listed);
    const bool ok = installer::CheckAuthenticode(ids, path, false);
    QueryPerformanceCounter(&end);
    all_ok = all_ok && ok;
    std::printf("run %d: list %.1f ms, authenticode %.1f ms, total %.1f ms, %s\n", run,
                Milliseconds(start, listed), Milliseconds(listed, end), Milliseconds(start, end),
                ok ? "ok" : "refused");
  }
  return all_ok ? 0 : 1;
}
