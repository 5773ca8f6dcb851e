// Silent installations end to end: lite_installer.exe started as a deployment tool starts it
// (its own TMP and TEMP, waited for, full exit code), downloading the signed stand-in setup
// program from the fake publisher. What is checked is what the outside world sees: the setup
// program's report of its command line and files, the requests the publisher logged, the
// registry values left behind, the log and the exit code.
#include <windows.h>

#include <jansson.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "brand/registry_values.h"
#include "install/installer.h"
#include "install/preinstall_checks.h"
#include "network/http_downloader.h"
#include "platform/base64.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"
#include "platform/windows_version.h"
#include "resources/resource_ids.h"
#include "tests/support/child_process.h"
#include "tests/support/held_mutex.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::PublisherRequest;

// Every real-executable run downloads from the default archive URL of the default brand.
constexpr char kDefaultArchivePath[] = "/browser/zorvin/flash/browser-setup.arc";
constexpr char kStatusPath[] = "/get/browser/install";
constexpr wchar_t kBrowserKey[] = L"Software\\Zorvin\\ZorvinBrowser";
constexpr char kStandInVersion[] = "24.7.3.1105";
// What the publisher answers for the configuration bundle when it has none of its own.
const std::string kEmptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');

struct JsonDeleter {
  void operator()(json_t* json) const { json_decref(json); }
};
using ScopedJson = std::unique_ptr<json_t, JsonDeleter>;

std::string JsonString(json_t* object, const char* key) {
  const char* value = json_string_value(json_object_get(object, key));
  return value ? value : "";
}

std::wstring JsonWide(json_t* value) {
  const char* text = json_string_value(value);
  std::wstring wide;
  if (text) platform::Utf8ToWide(text, &wide);
  return wide;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The variables of an extended statistics request: ".../vars=-key=value,-key=value/*".
std::map<std::string, std::string> StatisticsVariables(const std::string& path) {
  std::map<std::string, std::string> variables;
  size_t start = path.find("/vars=");
  if (start == std::string::npos) return variables;
  std::string list = path.substr(start + 6);
  if (list.size() >= 2 && list.compare(list.size() - 2, 2, "/*") == 0) list.resize(list.size() - 2);
  size_t begin = 0;
  while (begin < list.size()) {
    size_t end = list.find(',', begin);
    if (end == std::string::npos) end = list.size();
    std::string item = list.substr(begin, end - begin);
    if (!item.empty() && item[0] == '-') item.erase(0, 1);
    size_t equals = item.find('=');
    variables[Unescape(item.substr(0, equals))] =
        equals == std::string::npos ? "" : Unescape(item.substr(equals + 1));
    begin = end + 1;
  }
  return variables;
}

// "action" and, when present, "/" + "stage" of each event, in the order the server saw them.
std::vector<std::string> EventNames(const std::vector<PublisherRequest>& requests) {
  std::vector<std::string> names;
  for (const PublisherRequest& request : requests) {
    std::map<std::string, std::string> variables = StatisticsVariables(request.path);
    std::string name = variables["action"];
    if (variables.count("stage")) name += "/" + variables["stage"];
    names.push_back(name);
  }
  return names;
}

// The value names under HKEY_CURRENT_USER\`key`; empty when the key is missing.
std::set<std::wstring> RegistryValueNames(const wchar_t* key) {
  std::set<std::wstring> names;
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = ARRAYSIZE(name);
    if (RegEnumValueW(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.insert(std::wstring(name, length));
  }
  RegCloseKey(handle);
  return names;
}

std::wstring RegistryString(const wchar_t* key, const wchar_t* name) {
  wchar_t value[2048] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One file the setup program named in its report.
struct ReportedFile {
  std::wstring path;
  bool exists = false;
  std::string bytes;
};

// The stand-in setup program's report (tests/stand_in/README.md).
struct SetupReport {
  bool read = false;
  std::vector<std::wstring> arguments;
  std::map<std::string, std::wstring> switches;
  std::map<std::string, ReportedFile> files;
};

SetupReport ReadSetupReport(const std::wstring& path) {
  SetupReport report;
  std::string text = test_support::ReadFileBytes(path);
  // The "text" of a file may hold NUL characters (an empty zip archive is valid UTF-8).
  ScopedJson root(json_loadb(text.data(), text.size(), JSON_ALLOW_NUL, nullptr));
  if (!root) return report;
  report.read = true;
  size_t index;
  json_t* value;
  json_array_foreach(json_object_get(root.get(), "arguments"), index, value) {
    report.arguments.push_back(JsonWide(value));
  }
  const char* name;
  json_object_foreach(json_object_get(root.get(), "switches"), name, value) {
    report.switches[name] = JsonWide(value);
  }
  json_object_foreach(json_object_get(root.get(), "files"), name, value) {
    ReportedFile file;
    file.path = JsonWide(json_object_get(value, "path"));
    file.exists = json_is_true(json_object_get(value, "exists"));
    platform::Base64Decode(JsonString(value, "base64"), &file.bytes);
    report.files[name] = file;
  }
  return report;
}

// The string members of a JSON object; `ok` false when the text is not one.
DistribInfoParams::ParamMap JsonStringMembers(const std::string& text, bool* ok) {
  DistribInfoParams::ParamMap members;
  ScopedJson root(json_loads(text.c_str(), 0, nullptr));
  *ok = root && json_is_object(root.get());
  if (!*ok) return members;
  const char* key;
  json_t* value;
  json_object_foreach(root.get(), key, value) {
    if (!json_is_string(value)) *ok = false;
    members[key] = json_is_string(value) ? json_string_value(value) : "";
  }
  return members;
}

// ---------------------------------------------------------------------------------------
// The real executable.

// Runs of lite_installer.exe share the session's single-instance mutex, the elevation
// events, the browser's registry key and the default archive URL with every other test that
// starts the executable: all of them hold the same named lock, and the archive is scripted
// (and the key cleaned) only while it is held.
class SilentInstallTest : public testing::Test, public test_support::InstallerLogReader {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run_lock_.owned());
    RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
    report_path_ = report_dir_.File(L"report.json");
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", report_path_.c_str());
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", L"0");
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", L"0");
  }

  void TearDown() override {
    ClearPublisherScripts();
    RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
    SetEnvironmentVariableW(L"LI_STAND_IN_REPORT", nullptr);
    SetEnvironmentVariableW(L"LI_STAND_IN_WINDOW_MS", nullptr);
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", nullptr);
    // Bytes a run kept of the default archive URL would be resumed by the next holder.
    installer::KeptArchive(installer::KeptArchiveFolderForThisProcess()).Remove();
  }

  // The default archive URL answers with this stand-in variant until the test ends.
  void ServeArchive(const wchar_t* variant) {
    std::string path = platform::Narrow(test_support::BuildFile(std::wstring(L"stand_in\\") +
                                                                variant + L".exe"));
    std::string escaped;
    for (char c : path) {
      if (c == '\\') escaped += '\\';
      escaped += c;
    }
    ClearPublisherScripts();
    ASSERT_TRUE(test_support::AddPublisherScript(
        std::string("{\"path\":\"") + kDefaultArchivePath + "\",\"responses\":[{\"file\":\"" +
        escaped + "\"}],\"repeat_last\":true}"));
  }

  void ClearPublisherScripts() {
    for (const char* path : {kDefaultArchivePath, kStatusPath}) {
      std::string answer;
      DownloadToString(
          test_support::PublisherUrl("/__control/clear?path=" + test_support::EscapeSegment(path)),
          nullptr, &answer);
    }
  }

  // Starts the installer (or a copy of it) in a fresh temporary folder and waits for it.
  int32_t Run(const std::wstring& arguments,
              const std::wstring& program = test_support::BuildFile(L"lite_installer.exe")) {
    temp_ = std::make_unique<test_support::ScopedTempDir>();
    DeleteFileW(report_path_.c_str());
    std::wstring command = L"\"" + program + L"\" " + arguments;
    int32_t exit_code = 12345;
    EXPECT_TRUE(test_support::RunProgram(command, temp_->path(), 120000, &exit_code))
        << platform::Narrow(command);
    return exit_code;
  }

  std::wstring TempFile(const wchar_t* name) const { return temp_->File(name); }

  std::wstring LogFolder() const override { return temp_->path(); }

  // This run's identifier, as its status requests carry it ("ui=").
  std::string RunId() const {
    for (const std::wstring& line : Log()) {
      size_t at = line.find(L"/get/browser/install?");
      if (at == std::wstring::npos) continue;
      size_t ui = line.find(L"ui=", at);
      if (ui == std::wstring::npos) continue;
      size_t end = line.find(L'&', ui);
      return platform::Narrow(line.substr(ui + 3, end == std::wstring::npos ? end : end - ui - 3));
    }
    return std::string();
  }

  std::vector<PublisherRequest> StatusRequests(size_t at_least) const {
    std::string ui = RunId();
    if (ui.empty()) return {};
    return test_support::PublisherRequestsWith("ui=" + ui, at_least);
  }

  // The extended statistics of the run whose "zorvinuid" distribution parameter is `marker`.
  static std::vector<PublisherRequest> Statistics(const std::string& marker, size_t at_least) {
    return test_support::PublisherRequestsWithPath("-zorvin_uid=" + marker + "/*", at_least);
  }

  // Taken first and released last: the cleanup above runs while it is held.
  test_support::InstallerRunLock run_lock_;
  std::wstring report_path_;
  std::unique_ptr<test_support::ScopedTempDir> temp_;

 private:
  test_support::ScopedTempDir report_dir_;
};

struct HandOverCase {
  const char* name;
  std::wstring switches;     // besides --silent and the parameters
  std::string params;        // --distr-info-params without the marker; "-" for no switch
  bool make_default;         // expected (where Windows lets the browser become the default)
  bool install_tasks;        // variations seed and configuration bundle expected
  const wchar_t* language;   // the registry value "lang" left behind
};

TEST_F(SilentInstallTest, HandsEverySwitchAndFileToTheSetupAndCleansUp) {
  const HandOverCase cases[] = {
      {"both choices, seed and bundle", L"--send-statistics --make-browser-default-after-import",
       "banerid=77&lang=en&vup=1&scup=1&distr_zorvinuid=d-1", true, true, L"en"},
      // The default brand asks for statistics itself; "2" is not "1", so no tasks.
      {"no choices, Russian", L"", "lang=ru&vup=2&scup=0", false, false, L"ru"},
      {"no parameters at all", L"--make-browser-default-after-import", "-", true, false, nullptr},
  };
  const std::string master_preferences =
      test_support::ReadFileBytes(test_support::SourceFile(L"resources\\vendor\\master_preferences.json"));
  const std::string clids =
      test_support::ReadFileBytes(test_support::SourceFile(L"resources\\vendor\\clids.xml"));
  const std::string clids_searchband = test_support::ReadFileBytes(
      test_support::SourceFile(L"resources\\vendor\\clids_searchband.xml"));
  const std::string brand_cabinet = test_support::ReadFileBytes(
      test_support::BuildFile(L"resources_generated\\brand_default.cab"));
  const size_t archive_size =
      test_support::ReadFileBytes(test_support::BuildFile(L"stand_in\\good.exe")).size();
  ASSERT_FALSE(master_preferences.empty());
  ASSERT_EQ(0u, clids.find("<?xml version=\"1.0\" encoding=\"windows-1251\"?>"));
  ASSERT_EQ(0u, clids_searchband.find("<?xml version=\"1.0\" encoding=\"windows-1251\"?>"));
  ASSERT_EQ(0u, brand_cabinet.find("MSCF"));
  ASSERT_NE(0u, archive_size);
  const int version_class = platform::WindowsVersionClass();
  const bool can_make_default =
      version_class != platform::kWindows8 && version_class != platform::kWindows8_1;
  ServeArchive(L"good");

  for (const HandOverCase& c : cases) {
    SCOPED_TRACE(c.name);
    RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
    const bool with_params = std::string(c.params) != "-";
    const std::string marker = test_support::UniqueMarker();
    const std::string params = with_params ? "zorvinuid=" + marker + "&" + c.params : "";
    std::wstring arguments = L"--silent " + c.switches;
    if (with_params) arguments += L" --distr-info-params=" + platform::Widen(params);

    ASSERT_EQ(0, Run(arguments)) << LogText();
    EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: 0")) << LogText();

    SetupReport report = ReadSetupReport(report_path_);
    ASSERT_TRUE(report.read) << LogText();
    std::map<std::string, std::wstring>& switches = report.switches;
    EXPECT_EQ(L"lite", switches["source"]);
    EXPECT_EQ(L"zorvin", switches["brand-name"]);
    EXPECT_EQ(L"0", switches["progress-window"]);
    ASSERT_TRUE(switches.count("verbose-logging"));
    EXPECT_EQ(L"", switches["verbose-logging"]);
    // Every switch the installer was given reaches the setup too.
    EXPECT_TRUE(switches.count("silent"));
    // The default brand sends statistics whether or not the switch was given.
    EXPECT_TRUE(switches.count("send-statistics"));
    EXPECT_EQ(c.make_default && can_make_default,
              switches.count("make-browser-default-after-import") == 1);
    EXPECT_FALSE(switches.count("disable-uac"));
    EXPECT_FALSE(switches.count("partner-package"));

    struct VendorFile {
      const char* switch_name;
      const wchar_t* file_name;
      const std::string* content;
    };
    const VendorFile vendor_files[] = {
        {"installerdata", L"master_preferences", &master_preferences},
        {"clids-file", L"clids.xml", &clids},
        {"clids-searchband-file", L"clids_searchband.xml", &clids_searchband},
        {"brand-package", L"BrandFile", &brand_cabinet},
    };
    for (const VendorFile& file : vendor_files) {
      SCOPED_TRACE(file.switch_name);
      ASSERT_TRUE(report.files.count(file.switch_name));
      const ReportedFile& reported = report.files[file.switch_name];
      EXPECT_EQ(TempFile(file.file_name), reported.path);
      EXPECT_EQ(switches[file.switch_name], reported.path);
      EXPECT_TRUE(reported.exists);
      EXPECT_EQ(*file.content, reported.bytes);
    }

    if (with_params) {
      ASSERT_TRUE(report.files.count("distr-info-file"));
      const ReportedFile& info = report.files["distr-info-file"];
      EXPECT_EQ(TempFile(L"distrib_info"), info.path);
      bool ok = false;
      DistribInfoParams::ParamMap members = JsonStringMembers(info.bytes, &ok);
      EXPECT_TRUE(ok) << info.bytes;
      EXPECT_EQ(ParseDistribParams(params), members) << info.bytes;
      EXPECT_EQ(platform::Widen(params), switches["distr-info-params"]);
    } else {
      EXPECT_FALSE(switches.count("distr-info-file"));
      EXPECT_FALSE(FileExists(TempFile(L"distrib_info")));
    }

    if (c.install_tasks) {
      ASSERT_TRUE(report.files.count("variations-update-path"));
      const ReportedFile& seed = report.files["variations-update-path"];
      EXPECT_EQ(0u, seed.path.find(temp_->path() + L"\\vup")) << platform::Narrow(seed.path);
      ASSERT_TRUE(seed.exists);
      bool ok = false;
      DistribInfoParams::ParamMap members = JsonStringMembers(seed.bytes, &ok);
      EXPECT_TRUE(ok) << seed.bytes;
      DistribInfoParams::ParamMap expected = {
          {"variations_seed_base64",
           platform::Base64Encode(std::string("zorvin-variations-seed\x00\x01\x02\xfe\xff", 27))},
          {"variations_seed_signature", "c2lnbmF0dXJlLWZvci10ZXN0cw=="},
          {"variations_last_modified_time", "Tue, 01 Dec 2026 10:00:00 GMT"},
          {"variations_country", "xx"},
      };
      EXPECT_EQ(expected, members) << seed.bytes;

      ASSERT_TRUE(report.files.count("server-config-bundle-path"));
      const ReportedFile& bundle = report.files["server-config-bundle-path"];
      EXPECT_EQ(0u, bundle.path.find(temp_->path() + L"\\scu")) << platform::Narrow(bundle.path);
      EXPECT_TRUE(bundle.exists);
      EXPECT_EQ(kEmptyZip, bundle.bytes);
      // Both live exactly as long as the installer: gone once it has exited.
      EXPECT_FALSE(FileExists(seed.path));
      EXPECT_FALSE(FileExists(bundle.path));
    } else {
      EXPECT_FALSE(switches.count("variations-update-path"));
      EXPECT_FALSE(switches.count("server-config-bundle-path"));
    }

    // After a success: the archive and the brand package are gone, the documents for the
    // setup stay, and of the registry values only the language is left.
    ASSERT_FALSE(report.arguments.empty());
    EXPECT_FALSE(FileExists(report.arguments[0]));
    EXPECT_FALSE(FileExists(TempFile(L"BrandFile")));
    EXPECT_TRUE(FileExists(TempFile(L"master_preferences")));
    EXPECT_TRUE(FileExists(TempFile(L"clids.xml")));
    EXPECT_EQ(std::set<std::wstring>{L"lang"}, RegistryValueNames(kBrowserKey));
    const std::wstring language = c.language ? c.language : RegistryString(kBrowserKey, L"lang");
    EXPECT_EQ(language, RegistryString(kBrowserKey, L"lang"));

    // The status server: one successful attempt, then the result.
    std::vector<PublisherRequest> status = StatusRequests(2);
    ASSERT_EQ(2u, status.size()) << LogText();
    const std::string ui = RunId();
    EXPECT_EQ(36u, ui.size());
    EXPECT_EQ(kStatusPath, status[0].path);
    EXPECT_EQ(0u, status[0].query.find("status=success&attempt=1&downloaded=" +
                                       platform::ToString(archive_size) + "&ui=" + ui +
                                       "&url=https:%2F%2Flocalhost"))
        << status[0].query;
    EXPECT_EQ(std::string::npos, status[0].query.find("&error="));
    EXPECT_EQ(0u, status[1].query.find("ui=" + ui + "&result=success&time=")) << status[1].query;
    EXPECT_NE(std::string::npos, status[1].query.find("&download_time=")) << status[1].query;
    EXPECT_NE(std::string::npos, status[1].query.find("&install_time=")) << status[1].query;

    if (!with_params) continue;
    // The extended statistics, in the order the flow sent them.
    std::vector<PublisherRequest> events = Statistics(marker, 5);
    const std::vector<std::string> expected_events = {
        "installer_started", "download/started", "download/finished", "setup/setup_exe_launched",
        "setup/setup_exe_exited"};
    EXPECT_EQ(expected_events, EventNames(events)) << LogText();
    for (const PublisherRequest& event : events) {
      std::map<std::string, std::string> variables = StatisticsVariables(event.path);
      EXPECT_EQ("zorvin", variables["brand_id"]);
      EXPECT_EQ("lite", variables["installer_type"]);
      EXPECT_EQ("0", variables["old_style"]);
      EXPECT_EQ(std::string(c.params).find("banerid=77") != std::string::npos ? "77" : "",
                variables["banner_id"]);
    }
    if (events.size() == expected_events.size()) {
      std::map<std::string, std::string> finished = StatisticsVariables(events[2].path);
      EXPECT_EQ(kStandInVersion, finished["new_ver"]);
      EXPECT_EQ("normal", finished["install_type"]);
      EXPECT_TRUE(finished.count("download_time"));
      EXPECT_TRUE(StatisticsVariables(events[3].path).count("uac"));
      std::map<std::string, std::string> exited = StatisticsVariables(events[4].path);
      // A direct run reports exit code 0 as its error value.
      EXPECT_EQ("0", exited["error"]);
      EXPECT_TRUE(exited.count("setup_time"));
    }
  }
}

TEST_F(SilentInstallTest, SetupExitCodeBecomesTheProcessExitCode) {
  struct Case {
    const wchar_t* setup_exit_code;  // as the stand-in reads it
    int32_t exit_code;
    const char* error;               // "error" of "setup_exe_exited"; null: not sent
  };
  const Case cases[] = {
      {L"3", 3, nullptr},
      {L"1603", 1603, "1603"},
      // All 32 bits, through the deployment tool's view of the exit code.
      // Statistics values carry "_" for "-".
      {L"0x80070005", static_cast<int32_t>(0x80070005u), "_2147024891"},
  };
  ServeArchive(L"good");
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::Narrow(c.setup_exit_code));
    RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
    SetEnvironmentVariableW(L"LI_STAND_IN_EXIT_CODE", c.setup_exit_code);
    const std::string marker = test_support::UniqueMarker();
    EXPECT_EQ(c.exit_code, Run(L"--silent --distr-info-params=zorvinuid=" + platform::Widen(marker)));
    EXPECT_TRUE(ReadSetupReport(report_path_).read);
    EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: " +
                       platform::ToWString(c.exit_code)))
        << LogText();
    // The setup ran to its end: that is a finished installation, whatever it returned.
    EXPECT_EQ(std::set<std::wstring>{L"lang"}, RegistryValueNames(kBrowserKey));
    std::vector<PublisherRequest> status = StatusRequests(2);
    ASSERT_EQ(2u, status.size());
    EXPECT_NE(std::string::npos, status[1].query.find("&result=success&")) << status[1].query;
    std::vector<PublisherRequest> events = Statistics(marker, 5);
    ASSERT_EQ(5u, events.size());
    std::map<std::string, std::string> exited = StatisticsVariables(events[4].path);
    EXPECT_EQ("setup_exe_exited", exited["stage"]);
    EXPECT_EQ(c.error != nullptr, exited.count("error") == 1);
    if (c.error) {
      EXPECT_EQ(c.error, exited["error"]);
    }
  }
}

// A status server that accepts the request and never answers costs the run a few seconds:
// the installation goes on, exits with 0, and every statistics event still goes out.
TEST_F(SilentInstallTest, StatusServerThatNeverAnswersDoesNotHoldTheRun) {
  ServeArchive(L"good");
  // The download status request of a real-executable run carries the default archive URL.
  ASSERT_TRUE(test_support::AddPublisherScript(
      std::string("{\"path\":\"") + kStatusPath +
      "\",\"query_contains\":\"%2Fflash%2Fbrowser-setup.arc\",\"responses\":[{\"never_answer\":"
      "true}],\"repeat_last\":true}"));
  const std::string marker = test_support::UniqueMarker();
  const DWORD start = GetTickCount();
  EXPECT_EQ(0, Run(L"--silent --distr-info-params=zorvinuid=" + platform::Widen(marker)));
  EXPECT_LT(GetTickCount() - start, 60000u);
  EXPECT_EQ(1, Count(L"Cannot report download status: internet_open_url-12002")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: 0")) << LogText();
  EXPECT_TRUE(ReadSetupReport(report_path_).read);
  EXPECT_EQ(5u, Statistics(marker, 5).size());
}

TEST_F(SilentInstallTest, RefusedArchiveIsNeverRunAndTheHandOverStays) {
  ServeArchive(L"unsigned");
  const std::string marker = test_support::UniqueMarker();
  const std::string params = "zorvinuid=" + marker + "&lang=en";
  EXPECT_EQ(402, Run(L"--silent --distr-info-params=" + platform::Widen(params)));

  EXPECT_FALSE(ReadSetupReport(report_path_).read);
  EXPECT_EQ(1, Count(L"): Module verification failed: ")) << LogText();
  EXPECT_EQ(0, Count(L"RunModuleAndWait")) << LogText();
  EXPECT_EQ(1, Count(L"INFO: wWinMain (257): Installer exit with code: 402")) << LogText();

  // A later run (or the user) can retry with the same files: nothing was cleaned up.
  const std::set<std::wstring> expected = {L"lang",      L"InstallerData", L"ClidsFile",
                                           L"ClidsSearchbandFile", L"brand", L"BrandFile",
                                           L"DistribInfoParams"};
  EXPECT_EQ(expected, RegistryValueNames(kBrowserKey));
  EXPECT_EQ(L"zorvin", RegistryString(kBrowserKey, L"brand"));
  EXPECT_EQ(TempFile(L"master_preferences"), RegistryString(kBrowserKey, L"InstallerData"));
  EXPECT_EQ(TempFile(L"clids.xml"), RegistryString(kBrowserKey, L"ClidsFile"));
  EXPECT_EQ(TempFile(L"BrandFile"), RegistryString(kBrowserKey, L"BrandFile"));
  EXPECT_EQ(platform::Widen(params), RegistryString(kBrowserKey, L"DistribInfoParams"));
  EXPECT_TRUE(FileExists(TempFile(L"BrandFile")));

  std::vector<PublisherRequest> status = StatusRequests(2);
  ASSERT_EQ(2u, status.size()) << LogText();
  EXPECT_EQ(0u, status[0].query.find("status=success&attempt=1&")) << status[0].query;
  // The total time counts only runs that reached the setup's end.
  EXPECT_NE(std::string::npos, status[1].query.find("&result=failed&time=0&")) << status[1].query;
  const std::vector<std::string> expected_events = {"installer_started", "download/started",
                                                    "download/finished", "verification/error"};
  EXPECT_EQ(expected_events, EventNames(Statistics(marker, 4))) << LogText();
}

// Windows looks for every DLL but a KnownDLL in the program's own folder first, and the
// installer starts from a Downloads folder. A DLL that reports itself is planted beside a
// copy of the installer under the name of every system DLL that the installer, the system
// libraries it uses (WinINet and its TLS, WinTrust, GDI+, COM, the shell) or the setup start
// load, and those names are made native-first for it, as Windows' search order would take them:
// whole installations, silent and through the window, must not map one. Not planted: the
// KnownDLLs the program imports (kernel32, user32, gdi32, advapi32, msvcrt), which Windows
// never takes from the program's folder but Wine does, and the libraries that Wine's own
// user32 and advapi32 import or load while the process starts, before the program's first
// instruction (sechost, ucrtbase, win32u, zlib1, version, imm32); Windows' do not. So the
// program's own delay-loaded version.dll is left to the image check (no static import) and
// to the hook, which loads it from the system folder like every other system DLL.
TEST_F(SilentInstallTest, NoDllPlantedBesideTheInstallerIsLoaded) {
  const std::wstring kNames[] = {
      L"apphelp",  L"bcrypt",   L"bcryptprimitives", L"cabinet",  L"cfgmgr32",
      L"combase",  L"comctl32", L"comdlg32", L"crypt32",  L"cryptbase", L"cryptnet",
      L"cryptsp",  L"cryptui",  L"dbghelp",  L"dhcpcsvc", L"dnsapi",    L"dssenh",
      L"dwmapi",   L"gdiplus",  L"iertutil", L"imagehlp", L"iphlpapi",  L"kerberos",
      L"mpr",      L"msasn1",   L"msimg32",  L"mswsock",  L"msv1_0",    L"ncrypt",
      L"netapi32", L"normaliz", L"nsi",      L"ole32",    L"oleacc",    L"oleaut32",
      L"profapi",  L"propsys",  L"rasapi32", L"rasman",   L"rpcrt4",    L"rsaenh",
      L"schannel", L"secur32",  L"sensapi",  L"setupapi", L"shcore",    L"shell32",
      L"shlwapi",  L"softpub",  L"sspicli",  L"urlmon",   L"userenv",   L"uxtheme",
      L"windowscodecs", L"winhttp", L"wininet", L"winmm", L"wintrust",  L"wldap32",
      L"ws2_32",   L"wsock32",  L"wtsapi32"};
  test_support::ScopedTempDir folder;
  const std::wstring name = L"lite_installer_" + platform::Widen(test_support::UniqueMarker());
  const std::wstring program = folder.File(name + L".exe");
  ASSERT_TRUE(CopyFileW(test_support::BuildFile(L"lite_installer.exe").c_str(), program.c_str(),
                        FALSE));
  std::vector<std::pair<std::wstring, std::wstring>> native_first;
  for (const std::wstring& dll : kNames) {
    ASSERT_TRUE(CopyFileW(test_support::TestProgram(L"planted.dll").c_str(),
                          folder.File(dll + L".dll").c_str(), FALSE));
    native_first.emplace_back(dll, L"n,b");
  }
  test_support::ScopedWineDllOverrides overrides(name + L".exe", native_first);
  ASSERT_TRUE(overrides.ok());
  ServeArchive(L"good");

  struct Case {
    const char* name;
    const wchar_t* arguments;
    bool window;
  };
  const Case cases[] = {{"interface query", L"--check-the-interface", false},
                        {"silent installation", L"--silent", false},
                        {"installation through the window", L"", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Only the window needs the disk space; it comes last, after the other cases' checks.
    if (c.window && !HasEnoughDiskSpace(false, kRequiredDiskSpace)) {
      GTEST_SKIP() << "the disk is too full for the installer window";
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kBrowserKey);
    int32_t exit_code = 12345;
    if (c.window) {
      temp_ = std::make_unique<test_support::ScopedTempDir>();
      DeleteFileW(report_path_.c_str());
      test_support::ChildProcess child;
      ASSERT_TRUE(child.Start(L"\"" + program + L"\"", temp_->path()));
      HWND window = test_support::WaitForVisibleDialog(child.id(), 60000);
      const auto ready = [&] { return GetDlgItem(window, IDC_INSTALL_BUTTON) != nullptr; };
      EXPECT_TRUE(window != nullptr && test_support::WaitUntil(ready, 5000));
      EXPECT_TRUE(test_support::ClickButton(window, IDC_INSTALL_BUTTON));
      EXPECT_TRUE(child.Wait(180000, &exit_code));
    } else {
      exit_code = Run(c.arguments, program);
    }
    if (std::wstring(c.arguments) == L"--check-the-interface") {
      EXPECT_TRUE(exit_code == 700 || exit_code == 701) << exit_code;
    } else {
      EXPECT_EQ(0, exit_code) << LogText();
      EXPECT_TRUE(ReadSetupReport(report_path_).read) << LogText();
    }
    for (const std::wstring& dll : kNames) {
      const std::wstring report = folder.File(dll + L".dll.ran");
      EXPECT_FALSE(FileExists(report)) << platform::Narrow(dll) << ".dll was loaded";
      DeleteFileW(report.c_str());
    }
  }
}

// ---------------------------------------------------------------------------------------
// Five failed attempts: the shipped program pauses 15 s between attempts, so this runs the
// install flow of a silent run in the test process with a short pause.

TEST(SilentInstallFlowTest, FiveFailedAttemptsEndWith401AndKeepTheHandOver) {
  test_support::ScopedTestLog log;
  test_support::ScopedTempDir work;
  const std::string marker = test_support::UniqueMarker();
  const std::wstring key = L"Software\\LiteInstallerTests\\silent-" + platform::Widen(marker);
  SetBrowserRegistryKeyPathForTesting(key);

  BrandInfo brand(work.path() + L"\\");
  brand.set_brand_id("zorvin");
  brand.set_brand_name("zorvin");
  brand.set_language("en");
  brand.set_setup_url(
      test_support::PublisherUrl("/f/status=503/browser/" + marker + "/browser-setup.arc"));
  DistribInfoParams params;
  params.SetParamsForTesting({{"zorvinuid", marker}});
  int32_t result = 0;
  std::string ui;
  {
    Installer installer(
        {.brand_info = &brand, .params = &params, .prepare_install_tasks = true});
    installer.SetAttemptPauseForTesting(50);
    installer.RunSync();
    result = installer.result_code();
    ui = platform::Narrow(installer.run_id());
  }

  EXPECT_EQ(401, result);
  EXPECT_EQ(1, log.CountLines(L"Max download attempts failed (5)"));
  EXPECT_EQ(0, log.CountLines(L"Verification succeeded"));
  std::vector<PublisherRequest> status = test_support::PublisherRequestsWith("ui=" + ui, 6);
  ASSERT_EQ(6u, status.size());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(0u, status[i].query.find("status=failed&attempt=" + platform::ToString(i + 1) +
                                       "&downloaded=0&ui=" + ui + "&url="))
        << status[i].query;
  }
  EXPECT_EQ(0u, status[5].query.find("ui=" + ui + "&result=failed&time=0&download_time="))
      << status[5].query;

  std::vector<PublisherRequest> events =
      test_support::PublisherRequestsWithPath("-zorvin_uid=" + marker + "/*", 7);
  const std::vector<std::string> expected_events = {
      "installer_started", "download/started", "download/error", "download/error",
      "download/error",    "download/error",   "download/error"};
  ASSERT_EQ(expected_events, EventNames(events));
  for (int i = 0; i < 5; ++i) {
    std::string error = StatisticsVariables(events[2 + i].path)["error"];
    // "attempt-N-<error text>", with "_" for "-" as every statistics value.
    EXPECT_EQ(0u, error.find("attempt_" + platform::ToString(i + 1) + "_final_query_info_503_"))
        << error;
  }

  // The hand-over values stay for a later attempt (no brand package was written here, so
  // none is named).
  for (const char* name : {"lang", "brand", "InstallerData", "ClidsFile",
                           "ClidsSearchbandFile"}) {
    EXPECT_TRUE(RegistryValueNames(key.c_str()).count(platform::Widen(name))) << name;
  }
  EXPECT_FALSE(RegistryValueNames(key.c_str()).count(L"BrandFile"));
  EXPECT_EQ(L"zorvin", ReadStringFromRegistry("brand"));
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  SetBrowserRegistryKeyPathForTesting(L"");
}

}  // namespace
}  // namespace installer
