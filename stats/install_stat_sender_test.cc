#include "stats/install_stat_sender.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brand/registry_values.h"
#include "build_config/endpoints.h"
#include "platform/logging.h"
#include "platform/strings.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

// A unique name for this test process and case, usable in keys and object names.
std::wstring UniqueName(const wchar_t* what) {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  return std::wstring(what) + L"_" + platform::Widen(info->name()) + L"_" +
         std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount());
}

// Registry, event and file inputs held in memory; the event check stays the real one.
class FakeEnvironment : public InstallStatEnvironment {
 public:
  struct State {
    std::map<std::string, std::wstring> registry;
    std::vector<std::string> removed;
    std::wstring ui_path;
    std::wstring version = L"1.2.3.4";
  };
  explicit FakeEnvironment(std::shared_ptr<State> state) : state_(std::move(state)) {}

  std::wstring ReadRegistryString(std::string_view name) override {
    auto it = state_->registry.find(std::string(name));
    return it == state_->registry.end() ? std::wstring() : it->second;
  }
  void StoreRegistryString(std::string_view name, const std::wstring& value) override {
    state_->registry[std::string(name)] = value;
  }
  void RemoveRegistryValue(std::string_view name) override {
    state_->registry.erase(std::string(name));
    state_->removed.emplace_back(name);
  }
  std::wstring UiFilePath() override { return state_->ui_path; }
  std::wstring OwnVersion() override { return state_->version; }

 private:
  std::shared_ptr<State> state_;
};

class InstallStatSenderTest : public ::testing::Test {
 protected:
  std::unique_ptr<InstallStatSender> Make(int32_t target_kind, int32_t installer_kind,
                                          const StatVariables& initial = StatVariables()) {
    return std::make_unique<InstallStatSender>(target_kind, installer_kind, initial,
                                               std::make_unique<FakeEnvironment>(state_));
  }
  std::wstring StatsPrefix() const {
    return L"https://" + platform::Widen(endpoints::kExtendedStatsHost) +
           L"/installstats/send/dtype=stred/pid=457/cid=72992/path=extended_stat/vars=";
  }

  std::shared_ptr<FakeEnvironment::State> state_ = std::make_shared<FakeEnvironment::State>();
  test_support::ScopedTempDir dir_;
};

TEST(InstallStatNamesTest, KindNames) {
  const struct {
    int32_t kind;
    const wchar_t* installer;
    const wchar_t* target;
  } kCases[] = {
      {0, L"lite", L""},        {1, L"full", L"mini"},       {2, L"updater", L"service"},
      {3, L"service", L"hips"}, {4, L"4", L"unknown"},       {5, L"5", L"5"},
      {-1, L"-1", L"-1"},       {-7, L"-7", L"-7"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.installer, InstallerKindName(c.kind)) << c.kind;
    EXPECT_EQ(c.target, TargetKindName(c.kind)) << c.kind;
  }
}

TEST(InstallStatNamesTest, SavedTextLayoutAndReload) {
  const StatVariables variables = {{"brand_id", L"zorvin"}, {"empty", L""}, {"ui", L"u-1"}};
  const std::wstring text = SerializeStatVariables(variables);
  EXPECT_EQ(L"brand_id\nzorvin\nempty\n\nui\nu-1\n", text);
  StatVariables reloaded;
  ParseStatVariables(text, &reloaded);
  EXPECT_EQ(variables, reloaded);
}

TEST(InstallStatNamesTest, ParseSkipsBrokenPairsAndReplacesExistingValues) {
  const struct {
    const wchar_t* text;
    StatVariables expected;
  } kCases[] = {
      {L"", {{"keep", L"old"}}},
      {L"keep\nnew\n", {{"keep", L"new"}}},
      {L"a\n1", {{"a", L"1"}, {"keep", L"old"}}},             // last line feed missing
      {L"a\n1\nb\n", {{"a", L"1"}, {"keep", L"old"}}},        // key without value line
      {L"\nlost\nb\n2\n", {{"b", L"2"}, {"keep", L"old"}}},   // empty key
      {L"a\r\n1\r\n", {{"a\r", L"1\r"}, {"keep", L"old"}}},  // only line feeds split
  };
  for (const auto& c : kCases) {
    StatVariables variables = {{"keep", L"old"}};
    ParseStatVariables(c.text, &variables);
    EXPECT_EQ(c.expected, variables) << c.text;
  }
}

TEST(InstallStatNamesTest, LineFeedInsideAValueDoesNotShiftLaterPairs) {
  StatVariables variables = {{"a", L"one\ntwo"}, {"b", L"2"}};
  StatVariables reloaded;
  ParseStatVariables(SerializeStatVariables(variables), &reloaded);
  EXPECT_EQ((StatVariables{{"a", L"one two"}, {"b", L"2"}}), reloaded);
}

TEST(InstallStatNamesTest, LaunchEventName) {
  const struct {
    const wchar_t* command_line;
    const wchar_t* name;
  } kCases[] = {
      {L"", L""},
      {L"ab", L""},
      {L"\"\"", L""},
      {L"abc", L"Global\\abc"},
      {L"\"a\"", L"Global\\a"},
      {L"\"\"\"", L"Global\\\""},  // one quote from each side only
      {L"C:\\Users\\Me\\Setup.EXE", L"Global\\c:!users!me!setup.exe"},
      {L"\"C:\\Zorvin\\Lite.exe\" --silent", L"Global\\c:!zorvin!lite.exe\" --silent"},
      {L"\"C:\\Zorvin\\Lite.exe\"", L"Global\\c:!zorvin!lite.exe"},
      {L"D:\\\x0417\x041E\x0420\\A.exe", L"Global\\d:!\x0437\x043E\x0440!a.exe"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.name, LaunchEventName(c.command_line)) << c.command_line;
}

TEST(InstallStatNamesTest, UiValueFromFileContent) {
  const struct {
    std::string bytes;
    const wchar_t* ui;
  } kCases[] = {
      {"", L""},
      {"{6f1c2a9e-3b4d}", L"6f1c2a9e-3b4d"},
      {"6f1c2a9e-3b4d", L"6f1c2a9e-3b4d"},
      {"{6f1c", L"{6f1c"},
      {"6f1c}", L"6f1c}"},
      {"{{x}}", L"{x}"},
      {"{}", L""},
      {"{x}\r\n", L"{x}\r\n"},
      {"\xEF\xBB\xBF{x}", L"x"},
      {"{\xD0\x96}", L"\x0416"},
      {"{\xE9}", L"\x00E9"},  // not UTF-8: byte by byte
      {std::string("\xFF\xFE{\0a\0}\0", 8), L"a"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.ui, UiValueFromFileContent(c.bytes)) << c.bytes;
}

TEST_F(InstallStatSenderTest, ReadUiValueFromFile) {
  const std::wstring path = dir_.File(L"ui");
  EXPECT_EQ(L"", ReadUiValue(path));
  EXPECT_EQ(L"", ReadUiValue(L""));
  ASSERT_TRUE(test_support::WriteFileBytes(path, "{0a1b2c3d-0000-4000-8000-00000000abcd}"));
  EXPECT_EQ(L"0a1b2c3d-0000-4000-8000-00000000abcd", ReadUiValue(path));
  ASSERT_TRUE(test_support::WriteFileBytes(path, std::string(64 * 1024 + 1, 'x')));
  EXPECT_EQ(L"", ReadUiValue(path));
}

TEST(InstallStatEnvironmentTest, UiFileIsInTheRoamingApplicationDataFolder) {
  wchar_t appdata[MAX_PATH] = {};
  ASSERT_NE(0u, GetEnvironmentVariableW(L"APPDATA", appdata, MAX_PATH));
  EXPECT_EQ(std::wstring(appdata) + L"\\Zorvin\\ui", InstallStatEnvironment().UiFilePath());
}

TEST_F(InstallStatSenderTest, ConstructionGathersVariables) {
  state_->ui_path = dir_.File(L"ui");
  ASSERT_TRUE(test_support::WriteFileBytes(state_->ui_path, "{abc-123}"));
  state_->registry["zpv"] = L"23.1.0.100";
  state_->registry["pv"] = L"22.0.0.1";
  auto sender = Make(kTargetKindBrowser, kInstallerKindLite);
  EXPECT_EQ((StatVariables{{"installer_type", L"lite"},
                           {"launched", L"false"},
                           {"lite_ver", L"1.2.3.4"},
                           {"old_ver", L"23.1.0.100"},
                           {"ui", L"abc-123"}}),
            sender->Variables());
  EXPECT_TRUE(sender->HasOldVersion());
}

TEST_F(InstallStatSenderTest, MissingInputsLeaveEmptyVariables) {
  state_->ui_path = dir_.File(L"missing");
  state_->version = L"0.0.0.0";
  auto sender = Make(kTargetKindBrowser, kInstallerKindFull);
  EXPECT_EQ((StatVariables{{"installer_type", L"full"},
                           {"launched", L"false"},
                           {"lite_ver", L"0.0.0.0"},
                           {"old_ver", L""},
                           {"ui", L""}}),
            sender->Variables());
  EXPECT_FALSE(sender->HasOldVersion());
}

TEST_F(InstallStatSenderTest, OldVersionSources) {
  const struct {
    const wchar_t* zpv;
    const wchar_t* pv;
    const wchar_t* saved;  // nullptr: not in install_stat
    const wchar_t* old_ver;
  } kCases[] = {
      {L"2.0", L"1.0", nullptr, L"2.0"},
      {L"", L"1.0", nullptr, L"1.0"},
      {L"", L"", nullptr, L""},
      {L"2.0", L"1.0", L"0.9", L"0.9"},
      {L"2.0", L"1.0", L"", L""},  // present though empty: kept
  };
  for (const auto& c : kCases) {
    state_->registry.clear();
    state_->registry["zpv"] = c.zpv;
    state_->registry["pv"] = c.pv;
    if (c.saved) state_->registry["install_stat"] = std::wstring(L"old_ver\n") + c.saved + L"\n";
    EXPECT_EQ(c.old_ver, Make(0, 0)->Variables()["old_ver"]) << c.zpv << "/" << c.pv;
  }
}

TEST_F(InstallStatSenderTest, KindsDecideVersionKeyLaunchedAndType) {
  const struct {
    int32_t target;
    int32_t installer;
    StatVariables expected;
  } kCases[] = {
      {0, kInstallerKindUpdater,
       {{"installer_type", L"updater"}, {"old_ver", L""}, {"ui", L""}, {"ver", L"1.2.3.4"}}},
      {1, kInstallerKindService,
       {{"installer_type", L"service"}, {"lite_ver", L"1.2.3.4"}, {"old_ver", L""},
        {"ui", L""}}},
      {2, kInstallerKindUnset,
       {{"installer_type", L"service"}, {"lite_ver", L"1.2.3.4"}, {"old_ver", L""},
        {"ui", L""}}},
      {0, kInstallerKindUnset,
       {{"installer_type", L""}, {"lite_ver", L"1.2.3.4"}, {"old_ver", L""}, {"ui", L""}}},
      {kTargetKindHips, kInstallerKindLite, {}},
  };
  for (const auto& c : kCases) {
    StatVariables initial = c.target == kTargetKindHips ? StatVariables{{"x", L"y"}}
                                                        : StatVariables();
    EXPECT_EQ(c.expected, Make(c.target, c.installer, initial)->Variables())
        << c.target << "/" << c.installer;
  }
}

TEST_F(InstallStatSenderTest, SavedVariablesReplaceInitialOnesAndGatheredOnesWin) {
  state_->registry["install_stat"] =
      L"brand_id\nsaved\nlaunched\ntrue\nui\nstale\nlite_ver\n0.1\nextra\n1\n";
  auto sender = Make(0, 0, {{"brand_id", L"initial"}, {"partner_id", L"p"}});
  StatVariables variables = sender->Variables();
  EXPECT_EQ(L"saved", variables["brand_id"]);
  EXPECT_EQ(L"p", variables["partner_id"]);
  EXPECT_EQ(L"1", variables["extra"]);
  // Without a launch command line a saved "launched" stands.
  EXPECT_EQ(L"true", variables["launched"]);
  // The ui file and the own version are read anew.
  EXPECT_EQ(L"", variables["ui"]);
  EXPECT_EQ(L"1.2.3.4", variables["lite_ver"]);
}

TEST_F(InstallStatSenderTest, LaunchedFollowsTheNamedEventOfTheLastLaunch) {
  const std::wstring command_line =
      L"\"C:\\Temp\\" + UniqueName(L"Lite") + L"\\Lite_Installer.exe\"";
  state_->registry["InstallerSuccessLaunchCmdLine"] = command_line;
  // A saved "launched" does not survive a command line that can be checked.
  state_->registry["install_stat"] = L"launched\ntrue\n";
  EXPECT_EQ(L"false", Make(0, 0)->Variables()["launched"]);

  const std::wstring name = LaunchEventName(command_line);
  ASSERT_EQ(0u, name.find(L"Global\\c:!temp!lite_"));
  {
    platform::ScopedKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event) << GetLastError();
    EXPECT_EQ(L"true", Make(0, 0)->Variables()["launched"]);
    EXPECT_EQ(L"true", Make(0, 1)->Variables()["launched"]);
    // Only the lite and the full installer look for it.
    EXPECT_EQ(0u, Make(0, 2)->Variables().count("launched"));
  }
  EXPECT_EQ(L"false", Make(0, 0)->Variables()["launched"]);
}

TEST_F(InstallStatSenderTest, AnotherObjectOfTheEventNameIsNotALaunch) {
  const std::wstring command_line = L"C:\\" + UniqueName(L"Mutex") + L".exe";
  state_->registry["InstallerSuccessLaunchCmdLine"] = command_line;
  platform::ScopedKernelHandle mutex(
      CreateMutexW(nullptr, FALSE, LaunchEventName(command_line).c_str()));
  ASSERT_TRUE(mutex);
  EXPECT_EQ(L"false", Make(0, 0)->Variables()["launched"]);
}

TEST_F(InstallStatSenderTest, SendBuildsTheVariableList) {
  state_->ui_path = dir_.File(L"ui");
  ASSERT_TRUE(test_support::WriteFileBytes(state_->ui_path, "{u1}"));
  auto sender = Make(0, 0);
  sender->SetBrandId("zorvin");
  EXPECT_EQ(StatsPrefix() +
                L"-action=download,-brand_id=zorvin,-installer_type=lite,-launched=false,"
                L"-lite_ver=1.2.3.4,-old_style=0,-old_ver=,-stage=started,-ui=u1/*",
            sender->Send({{"action", L"download"}, {"stage", L"started"}}));
}

TEST_F(InstallStatSenderTest, EventKeysTakeTheirPlaceInByteOrder) {
  auto sender = Make(0, 0);
  sender->SetBrandId("b");
  sender->SetPartnerId("p");
  std::wstring url = sender->Send({{"action", L"x"}, {"stage", L"y"}, {"uac", L"1"}});
  size_t action = url.find(L"-action=x");
  size_t brand = url.find(L"-brand_id=b");
  size_t partner = url.find(L"-partner_id=p");
  size_t stage = url.find(L"-stage=y");
  size_t ui = url.find(L"-ui=");
  size_t uac = url.find(L"-uac=1");
  ASSERT_NE(std::wstring::npos, action);
  EXPECT_LT(action, brand);
  EXPECT_LT(brand, partner);
  EXPECT_LT(partner, stage);
  EXPECT_LT(uac, ui);  // "uac" sorts before "ui"
  EXPECT_LT(stage, uac);
}

TEST_F(InstallStatSenderTest, SendReplacesSeparatorsAndEscapes) {
  auto sender = Make(kTargetKindHips, kInstallerKindUnset);
  const struct {
    InstallEvent event;
    const wchar_t* list;
  } kCases[] = {
      {{}, L"-old_style=1/*"},
      {{{"v", L"a-b,c=d"}}, L"-old_style=1,-v=a_b_c_d/*"},
      {{{"a-b,c=d", L"v"}}, L"-a_b_c_d=v,-old_style=1/*"},
      {{{"path", L"C:\\Program Files/x?y#z"}},
       L"-old_style=1,-path=C:%5CProgram%20Files%2Fx%3Fy%23z/*"},
      {{{"err", L"\x041E\x0448"}}, L"-err=%D0%9E%D1%88,-old_style=1/*"},
      {{{"big", std::wstring(700, L' ')}}, L"-big=,-old_style=1/*"},  // too long to escape
      {{{"empty", L""}}, L"-empty=,-old_style=1/*"},
  };
  for (const auto& c : kCases) EXPECT_EQ(StatsPrefix() + c.list, sender->Send(c.event)) << c.list;
}

TEST_F(InstallStatSenderTest, SendAddsKindsAndUnknownBrand) {
  const struct {
    int32_t target;
    int32_t installer;
    const wchar_t* present;
    const wchar_t* absent;
  } kCases[] = {
      {0, 0, L"-brand_id=unknown,", L"-target="},
      {1, 0, L",-target=mini,-ui=/*", L"-old_style=1"},
      {4, 1, L",-target=unknown,-ui=/*", L"-old_style=1"},
      {1, kInstallerKindUnset, L"-old_style=1", L"-target="},
      {kTargetKindHips, 0, L"-old_style=0,-target=hips/*", L"brand_id"},
  };
  for (const auto& c : kCases) {
    std::wstring url = Make(c.target, c.installer)->Send({});
    EXPECT_NE(std::wstring::npos, url.find(c.present)) << url;
    EXPECT_EQ(std::wstring::npos, url.find(c.absent)) << url;
  }
}

TEST_F(InstallStatSenderTest, HipsTargetDropsLaunchedFromTheEvent) {
  auto sender = Make(kTargetKindHips, kInstallerKindUnset);
  EXPECT_EQ(StatsPrefix() + L"-action=a,-old_style=1/*",
            sender->Send({{"action", L"a"}, {"launched", L"true"}}));
}

TEST_F(InstallStatSenderTest, EventValuesWinButAreNotKept) {
  auto sender = Make(0, 0);
  sender->SetBrandId("stored");
  std::wstring url = sender->Send({{"brand_id", L"event"}});
  EXPECT_NE(std::wstring::npos, url.find(L"-brand_id=event,"));
  EXPECT_EQ(L"stored", sender->Variables()["brand_id"]);
  EXPECT_EQ(0u, sender->Variables().count("old_style"));
}

TEST_F(InstallStatSenderTest, SendLogsEveryVariable) {
  logging::ResetLoggingForTesting();
  const std::wstring log_path = dir_.File(L"lite_installer.log");
  logging::InitLogging(log_path);
  auto sender = Make(0, 0);
  sender->SetZorvinUid("42");
  sender->Send({{"action", L"installer_started"}});
  logging::ResetLoggingForTesting();

  std::string bytes = test_support::ReadFileBytes(log_path);
  std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  const wchar_t* kLines[] = {
      L"INFO: GetQueryUrl (", L"): InstallStatSender::Send:\n", L"): action=installer_started\n",
      L"): brand_id=unknown\n", L"): old_style=0\n", L"): zorvin_uid=42\n", L"): old_ver=\n",
  };
  for (const wchar_t* line : kLines) EXPECT_NE(std::wstring::npos, log.find(line)) << line;
  EXPECT_LT(log.find(L"InstallStatSender::Send:"), log.find(L"action=installer_started"));
  EXPECT_LT(log.find(L"action=installer_started"), log.find(L"zorvin_uid=42"));
}

TEST_F(InstallStatSenderTest, SettersInsertOrReplace) {
  auto sender = Make(0, 0);
  sender->SetBrandId("b1");
  sender->SetBrandId("b2");
  sender->SetPartnerId("p");
  sender->SetNewVersion(L"24.4.0.1");
  sender->SetInstallType("normal");
  sender->SetBannerId("ban");
  sender->SetDistrZorvinUid("d\xE9");
  sender->SetZorvinUid("z\xD0\x96");
  StatVariables variables = sender->Variables();
  const std::pair<const char*, const wchar_t*> kExpected[] = {
      {"brand_id", L"b2"},       {"partner_id", L"p"},      {"new_ver", L"24.4.0.1"},
      {"install_type", L"normal"}, {"banner_id", L"ban"}, {"distr_zorvin_uid", L"d\x00E9"},
      {"zorvin_uid", L"z\x0416"},
  };
  for (const auto& [key, value] : kExpected) EXPECT_EQ(value, variables[key]) << key;
}

TEST_F(InstallStatSenderTest, DestructionRemovesTheSavedValueForLiteAndFull) {
  const struct {
    int32_t installer;
    bool removes;
  } kCases[] = {{0, true}, {1, true}, {2, false}, {3, false}, {-1, false}};
  for (const auto& c : kCases) {
    state_->removed.clear();
    Make(0, c.installer).reset();
    EXPECT_EQ(c.removes ? std::vector<std::string>{"install_stat"} : std::vector<std::string>{},
              state_->removed)
        << c.installer;
  }
}

TEST_F(InstallStatSenderTest, ConcurrentSendAndSettersSeeWholeValues) {
  auto sender = Make(0, 0);
  sender->SetBrandId("aaaa");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; i < 2000 && !stop; ++i) {
      sender->SetBrandId(i % 2 ? "aaaa" : "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb");
      sender->SetPartnerId(std::string(static_cast<size_t>(i % 50), 'p'));
    }
  });
  for (int i = 0; i < 300; ++i) {
    std::wstring url = sender->Send({{"action", L"install_browser_button_clicked"}});
    bool whole = url.find(L"-brand_id=aaaa,") != std::wstring::npos ||
                 url.find(L"-brand_id=" + std::wstring(53, L'b') + L",") != std::wstring::npos;
    ASSERT_TRUE(whole) << url;
  }
  stop = true;
  writer.join();
}

// The saved copy goes through the real registry value store, on a key of this test only.
class InstallStatRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = L"Software\\ZorvinTests\\" + UniqueName(L"InstallStat");
    SetBrowserRegistryKeyPathForTesting(key_);
  }
  void TearDown() override {
    SetBrowserRegistryKeyPathForTesting(L"");
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
  }
  std::wstring RawValue(const wchar_t* name) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
      return L"<missing>";
    }
    return buffer;
  }

  std::wstring key_;
};

TEST_F(InstallStatRegistryTest, SaveAndReloadRoundTrip) {
  auto first = std::make_unique<InstallStatSender>(0, 0);
  first->SetBrandId("zorvin");
  first->SetPartnerId("partner-1");
  first->SetNewVersion(L"24.4.1.2");
  first->Save();
  const std::wstring saved = RawValue(L"install_stat");
  EXPECT_NE(std::wstring::npos, saved.find(L"brand_id\nzorvin\n"));
  EXPECT_NE(std::wstring::npos, saved.find(L"partner_id\npartner-1\n"));
  EXPECT_NE(std::wstring::npos, saved.find(L"installer_type\nlite\n"));

  // An updater (which keeps the value) reloads what the installer saved.
  {
    InstallStatSender second(0, kInstallerKindUpdater);
    StatVariables variables = second.Variables();
    EXPECT_EQ(L"zorvin", variables["brand_id"]);
    EXPECT_EQ(L"partner-1", variables["partner_id"]);
    EXPECT_EQ(L"24.4.1.2", variables["new_ver"]);
    EXPECT_EQ(L"updater", variables["installer_type"]);
    // The real version resource of the test program is read; it has none.
    EXPECT_EQ(L"0.0.0.0", variables["ver"]);
  }
  EXPECT_EQ(saved, RawValue(L"install_stat"));

  first.reset();
  EXPECT_EQ(L"<missing>", RawValue(L"install_stat"));
}

TEST_F(InstallStatRegistryTest, OldVersionFromTheBrowserKey) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &key, nullptr));
  const wchar_t kVersion[] = L"23.9.0.7";
  RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(kVersion),
                 sizeof(kVersion));
  RegCloseKey(key);
  InstallStatSender sender(0, 0);
  EXPECT_TRUE(sender.HasOldVersion());
  EXPECT_EQ(L"23.9.0.7", sender.Variables()["old_ver"]);
}

}  // namespace
}  // namespace installer
