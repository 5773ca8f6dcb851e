// Damage runs over every parser of outside input, far longer than the unit tests run them:
// distribution tags in the executable's certificate area, brand and partner cabinets, brand
// configuration documents, the archive's trusted lists and command lines. Each input is a
// seed with one to four random damages (bytes flipped, values set to extremes, cut, noise
// appended, pieces duplicated); every result must be one the parser documents. Run under
// Wine's heap checking by tools/fuzz.sh (make fuzz).
//
//   fuzz_parsers.exe [--inputs=N] [--seed=S] [--only=NAME]
//
// Prints one line per parser ("<name> <inputs> inputs <ms> ms") and exits 0; a broken
// promise prints the parser, the input number and the seed, and exits 1. A crash ends the
// process with its exception code.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "brand/brand_info.h"
#include "brand/cabinet.h"
#include "brand/distrib_info_params.h"
#include "platform/command_line.h"
#include "platform/strings.h"
#include "tests/support/tagged_image.h"
#include "tests/support/test_paths.h"
#include "trust/trusted_json.h"

namespace {

using installer::CommandLine;

std::string ReadFile(const std::wstring& path) { return test_support::ReadFileBytes(path); }

void PutLe32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (8 * i));
}

class Damage {
 public:
  explicit Damage(uint32_t seed) : random_(seed) {}

  size_t Below(size_t bound) {
    return bound == 0 ? 0 : std::uniform_int_distribution<size_t>(0, bound - 1)(random_);
  }

  // One to four damages. `hot` is a region where the structure lives (offsets, lengths),
  // damaged more often than the rest.
  std::string Apply(std::string bytes, size_t hot_begin, size_t hot_end) {
    static const uint32_t kExtremes[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF,
                                         0x80000000, 0xFFFFFFFF};
    const size_t damages = 1 + Below(4);
    for (size_t d = 0; d < damages; ++d) {
      if (bytes.empty()) {
        bytes.assign(1 + Below(8), static_cast<char>(Below(256)));
        continue;
      }
      const bool in_hot = hot_end > hot_begin && hot_end <= bytes.size() && Below(2) == 0;
      const size_t at = in_hot ? hot_begin + Below(hot_end - hot_begin) : Below(bytes.size());
      switch (Below(7)) {
        case 0:
        case 1:
          bytes[at] = static_cast<char>(bytes[at] ^ (1 + Below(255)));
          break;
        case 2:
          if (at + 4 <= bytes.size()) PutLe32(&bytes, at, kExtremes[Below(10)]);
          break;
        case 3:
          bytes.resize(Below(bytes.size() + 1));
          break;
        case 4: {
          const size_t extra = 1 + Below(256);
          for (size_t i = 0; i < extra; ++i) bytes.push_back(static_cast<char>(Below(256)));
          break;
        }
        case 5: {  // a piece of the input repeated elsewhere
          const size_t length = 1 + Below(std::min<size_t>(64, bytes.size() - at));
          bytes.insert(Below(bytes.size() + 1), bytes.substr(at, length));
          break;
        }
        default:  // a character that parsers treat specially
          static const char kSpecial[] = "\0\"\\{}[]:,=&%\x80\xC0\xED\xFF";
          bytes[at] = kSpecial[Below(sizeof(kSpecial) - 1)];
          break;
      }
    }
    return bytes;
  }

 private:
  std::mt19937 random_;
};

struct Target {
  const char* name;
  std::vector<std::string> seeds;
  size_t hot_begin = 0;
  size_t hot_end = 0;
  // Runs the parser over one input; false when it broke a promise.
  std::function<bool(const std::string&)> check;
};

std::vector<Target> Targets() {
  std::vector<Target> targets;

  const std::string exe = ReadFile(test_support::BuildFile(L"lite_installer.exe"));
  const std::string tagged =
      test_support::AppendCertificateWithTag(exe, "zorvinuid=42&lang=tr&stat=1&banerid=7", 0x40);
  targets.push_back({"tags", {tagged}, exe.size() - 64, tagged.size(), [](const std::string& in) {
                       const std::string_view tag = installer::FindTag(in);
                       // A tag, when one is found, lies inside the file right after its header.
                       if (tag.empty()) return true;
                       return tag.data() >= in.data() + 6 &&
                              tag.data() + tag.size() <= in.data() + in.size() &&
                              std::memcmp(tag.data() - 6, "Zvct", 4) == 0;
                     }});

  std::vector<std::string> cabinets;
  for (const wchar_t* name : {L"one.cab", L"one_z.cab", L"several_z.cab", L"twins_z.cab"}) {
    cabinets.push_back(ReadFile(test_support::BuildFile(L"test_data\\cabinets\\" +
                                                        std::wstring(name))));
  }
  targets.push_back({"cabinets", cabinets, 0, 96, [](const std::string& in) {
                       installer::ExtractedMembers members;
                       installer::ExtractPackage(in, "brand_config", &members);
                       // At most the one member asked for, whatever the damage.
                       return members.size() <= 1 &&
                              (members.empty() || members.begin()->first == "brand_config");
                     }});

  const std::vector<std::string> documents = {
      R"({"brand_id":"zorvin","brand_name":"zorvin","languages":{"interface":"tr"},)"
      R"("install":{"setup_url":"https://localhost/a.arc","send_statistics":true,)"
      R"("make_browser_default":false,"slide_url":"https://localhost/s/"},)"
      R"("partner_id":"p1","urls":{"variations":"https://localhost/v"}})",
      R"({"install":{"conf_policy_url":"https://x/\u00e9\ud83d\ude00","need_ppapi_flash":1}})",
  };
  targets.push_back({"configuration JSON", documents, 0, 0, [](const std::string& in) {
                       installer::BrandInfo brand(L"C:\\");
                       brand.ApplyConfigDocument(in);
                       brand.ApplyDefaults();
                       // Defaults fill whatever the document could not give.
                       return !brand.brand_id().empty() && !brand.setup_url().empty() &&
                              !brand.language().empty();
                     }});

  const std::string trusted =
      ReadFile(test_support::BuildFile(L"stand_in_gen\\good.trusted.json"));
  targets.push_back({"trusted lists", {trusted}, 0, 0, [](const std::string& in) {
                       installer::TrustedCertificateIds ids;
                       const bool parsed = installer::ParseTrustedJson(in, &ids);
                       // Identifiers are decoded bytes, never empty.
                       for (const std::string& id : ids) {
                         if (id.empty()) return false;
                       }
                       return parsed || ids.empty();
                     }});

  const std::vector<std::string> command_lines = {
      "\"C:\\Program Files\\lite_installer.exe\" --silent --brand-name=zorvin "
      "\"--distr-info-params=lang=tr&stat=1\" --setup-cmd-line=\"x --semi-silent\"",
      "lite_installer.exe --run-as-admin --parent-installer-process-id=123 "
      "\"--setup-cmd-line=C:\\a\\b.arc --verbose-logging \\\"--x=y z\\\"\" --progress-window=42",
      "\"\" -- --=x --a=\"\\\\\\\"\" \\\\server\\share\\x.exe",
      // Names with characters beyond 8 bits, and white space at the end of a name.
      "setup.exe --\xC4\xBDx=1 --silent\xC4\xBD --a\xC4\x80" "b \"--c =\" --\xC3\xA9=\xE4\xB8\xAD "
      "\"--d\xC2\xA0=\"",
  };
  targets.push_back({"command lines", command_lines, 0, 0, [](const std::string& in) {
                       // Damaged text that is no longer UTF-8 keeps its ASCII, and each byte
                       // above 0x7F stands for one of U+0100..U+017F, whose low 8 bits are
                       // ASCII again ("=", "-", NUL): what a narrowing parser would mistake.
                       std::wstring wide;
                       if (!platform::Utf8ToWide(in, &wide)) {
                         for (char c : in) {
                           const unsigned char byte = static_cast<unsigned char>(c);
                           wide.push_back(static_cast<wchar_t>(
                               byte < 0x80 ? byte : 0x100 + (byte & 0x7F)));
                         }
                       }
                       CommandLine parsed(wide);
                       // What is printed parses back to the same program and switch map. A
                       // line without a program prints its switches only, by design, and no
                       // file name holds a quote (the program is parsed without escapes).
                       if (parsed.ProgramPath().empty() ||
                           parsed.ProgramPath().find(L'"') != std::wstring::npos) {
                         parsed.SetProgramPath(L"x");
                       }
                       CommandLine again(parsed.Print());
                       return again.ProgramPath() == parsed.ProgramPath() &&
                              again.switches() == parsed.switches();
                     }});
  return targets;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  uint64_t inputs = 20000;
  uint64_t seed = 20261208;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument.rfind(L"--inputs=", 0) == 0) platform::StringToUint64(platform::Narrow(argument.substr(9)), &inputs);
    if (argument.rfind(L"--seed=", 0) == 0) platform::StringToUint64(platform::Narrow(argument.substr(7)), &seed);
    if (argument.rfind(L"--only=", 0) == 0) only = platform::Narrow(argument.substr(7));
  }
  if (!installer::LoadCabinetLibrary()) {
    std::printf("cabinet.dll cannot be loaded\n");
    return 1;
  }
  for (Target& target : Targets()) {
    if (!only.empty() && only != target.name) continue;
    for (const std::string& input : target.seeds) {
      if (input.empty() || !target.check(input)) {
        std::printf("%s: a seed is missing or already fails\n", target.name);
        return 1;
      }
    }
    Damage damage(static_cast<uint32_t>(seed));
    const auto start = std::chrono::steady_clock::now();
    for (uint64_t n = 0; n < inputs; ++n) {
      const std::string& base = target.seeds[damage.Below(target.seeds.size())];
      const std::string input = damage.Apply(base, target.hot_begin, target.hot_end);
      if (!target.check(input)) {
        std::printf("%s: input %llu of seed %llu broke the parser's promise\n", target.name,
                    static_cast<unsigned long long>(n), static_cast<unsigned long long>(seed));
        return 1;
      }
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("%-20s %8llu inputs %8lld ms\n", target.name,
                static_cast<unsigned long long>(inputs), static_cast<long long>(ms));
    std::fflush(stdout);
  }
  return 0;
}
