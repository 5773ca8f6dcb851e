#include "install/win10_default_browser.h"

#include <windows.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/scoped_handle.h"
#include "platform/windows_version.h"
#include "tests/support/dialog_driver.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace win10_default_browser {
namespace {

// ---------------------------------------------------------------------------------------
// The availability code.

TEST(InterfaceAvailabilityCodeTest, BuildRevisionAndReason) {
  struct Case {
    uint32_t build;
    uint32_t revision;
    uint32_t reason;
    uint32_t expected;
  };
  const Case cases[] = {
      {16299, 15, 3, 3162990015u},
      {16299, 15, 0, 162990015u},
      {17134, 318, 2, 2171340318u},
      {10240, 0, 1, 1102400000u},
      // The largest code that fits is exactly 2^32 - 1.
      {29496, 7295, 4, 4294967295u},
      // Out-of-range parts count as 0.
      {29497, 15, 0, 15u},
      {16299, 7296, 0, 162990000u},
      {0xFFFFFFFF, 0xFFFFFFFF, 4, 4000000000u},
      // Reasons above 4 are stored as 4.
      {19045, 3803, 5, 4190453803u},
      {19045, 3803, 0xFFFFFFFF, 4190453803u},
      {0, 0, 0, 0u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.build << "." << c.revision << " reason " << c.reason);
    EXPECT_EQ(c.expected, MakeAvailabilityCode(c.build, c.revision, c.reason));
    EXPECT_EQ(c.reason > 4 ? 4u : c.reason, AvailabilityReason(c.expected));
  }
}

TEST(InterfaceAvailabilityCodeTest, SettingAReasonKeepsTheVersion) {
  struct Case {
    uint32_t code;
    uint32_t reason;
    uint32_t expected;
  };
  const Case cases[] = {
      {162990015u, 3, 3162990015u},
      {3162990015u, 1, 1162990015u},
      {3162990015u, 0, 162990015u},
      {4294967295u, 9, 4294967295u},
      {294967295u, 4, 4294967295u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, SetAvailabilityReason(c.code, c.reason)) << c.code << " " << c.reason;
  }
}

TEST(InterfaceAvailabilityCodeTest, BuildsKnownToHaveTheInterface) {
  struct Case {
    uint32_t build;
    uint32_t revision;
    bool known;
  };
  const Case cases[] = {
      {17134, 318, false}, {17134, 319, true},  {17134, 0, false},   {17133, 9999, false},
      {17135, 9999, false}, {17703, 9999, false}, {17704, 0, true},   {17763, 1, true},
      {16299, 15, false},  {10240, 0, false},   {22631, 2861, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.known, IsInterfaceKnownAvailable(c.build, c.revision))
        << c.build << "." << c.revision;
  }
}

// ---------------------------------------------------------------------------------------
// The checking copy, played by tests/programs/interface_check_child.

std::wstring ChildProgram() {
  return test_support::BuildFile(L"test_programs\\interface_check_child.exe");
}

// The copy's time limit in the tests that are not about it: a copy started on a loaded or
// emulated test machine may need more than the 3 seconds to answer.
constexpr uint32_t kSlowMachineMs = 60000;

class ScopedChildMode {
 public:
  explicit ScopedChildMode(const wchar_t* mode) {
    SetEnvironmentVariableW(L"LI_INTERFACE_CHECK_MODE", mode);
  }
  ~ScopedChildMode() { SetEnvironmentVariableW(L"LI_INTERFACE_CHECK_MODE", nullptr); }
};

constexpr wchar_t kErrorLine[] = L"ERROR: IsInternalInterfaceAvailableSafeCheck (";
constexpr wchar_t kInfoLine[] = L"INFO: IsInternalInterfaceAvailableSafeCheck (";

TEST(InterfaceSafeCheckTest, ExitCodesOfTheCopy) {
  struct Case {
    const wchar_t* mode;
    bool available;
    uint32_t reason;
    const wchar_t* line;
    bool is_error;
  };
  const Case cases[] = {
      {L"available", true, 0,
       L"Successfuly checked Win10 internal interface availability: availability: 1\n", false},
      {L"unavailable", false, 2,
       L"Successfuly checked Win10 internal interface availability: availability: 0\n", false},
      {L"other", false, 4,
       L"Failed to check Win10 internal interface availability, unknown ret code: 5 ", true},
      {L"crash", false, 1,
       L"Failed to check Win10 internal interface availability, ret code: -1073741819, "
       L"installer crashed ",
       true},
  };
  test_support::ScopedTestLog log;
  ScopedCheckProgramForTesting program(ChildProgram(), kSlowMachineMs);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ScopedChildMode mode(c.mode);
    int errors_before = log.CountLines(kErrorLine);
    int infos_before = log.CountLines(kInfoLine);
    uint32_t code = MakeAvailabilityCode(16299, 15, 0);
    EXPECT_EQ(c.available, IsInternalInterfaceAvailableSafeCheck(&code));
    EXPECT_EQ(MakeAvailabilityCode(16299, 15, c.reason), code);
    EXPECT_EQ(1, log.CountLines(c.line));
    EXPECT_EQ(errors_before + (c.is_error ? 1 : 0), log.CountLines(kErrorLine));
    EXPECT_EQ(infos_before + (c.is_error ? 0 : 1), log.CountLines(kInfoLine));
  }
}

// The copy that never answers is killed once its 3 seconds are up: not sooner, and well
// before it would have ended by itself (30 s).
TEST(InterfaceSafeCheckTest, HangingCopyIsTerminatedAfterThreeSeconds) {
  test_support::ScopedTestLog log;
  ScopedCheckProgramForTesting program(ChildProgram());
  ScopedChildMode mode(L"hang");
  uint32_t code = MakeAvailabilityCode(16299, 15, 0);
  bool available = true;
  const DWORD start = GetTickCount();
  DWORD elapsed = 0;
  std::thread check([&] {
    available = IsInternalInterfaceAvailableSafeCheck(&code);
    elapsed = GetTickCount() - start;
  });
  // The copy (this process's only child) is watched from while it runs, to see its end.
  platform::ScopedKernelHandle copy;
  test_support::WaitUntil([&] {
    platform::ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !copy;
         more = Process32NextW(snapshot.get(), &entry)) {
      if (entry.th32ParentProcessID != GetCurrentProcessId()) continue;
      copy.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    }
    return copy.is_valid();
  }, 20000);
  check.join();
  ASSERT_TRUE(copy.is_valid());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(copy.get(), 5000));
  DWORD exit_code = 0;
  ASSERT_TRUE(GetExitCodeProcess(copy.get(), &exit_code));
  EXPECT_EQ(kExitTerminatedByTimeout, exit_code);
  EXPECT_GE(elapsed, 3000u - 16u);  // GetTickCount's step
  EXPECT_LT(elapsed, 25000u);       // the copy would have ended by itself after 30 s
  EXPECT_FALSE(available);
  EXPECT_EQ(3162990015u, code);
  EXPECT_TRUE(log.Contains(std::wstring(kErrorLine)));
  EXPECT_TRUE(log.Contains(
      L"): Failed to check Win10 internal interface availability,  installer was terminated "
      L"by timeout. "));
}

TEST(InterfaceSafeCheckTest, MissingOrUnrunnableProgram) {
  test_support::ScopedTempDir dir;
  std::wstring text_file = dir.File(L"not a program.txt");
  ASSERT_TRUE(test_support::WriteFileBytes(text_file, "plain text, not an executable"));
  struct Case {
    std::wstring program;
    std::wstring line;
  };
  const Case cases[] = {
      {dir.File(L"missing.exe"),
       L"): Failed to check Win10 internal interface availability: can't get installer exe "
       L"path. "},
      {L"", L"): Failed to check Win10 internal interface availability: can't get installer exe "
            L"path. "},
      {text_file, L"): Failed to check Win10 internal interface availability: can't run "
                  L"installer: \"" + text_file + L"\" --check-the-interface "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    test_support::ScopedTestLog log;
    ScopedCheckProgramForTesting program(c.program);
    uint32_t code = MakeAvailabilityCode(17134, 100, 0);
    EXPECT_FALSE(IsInternalInterfaceAvailableSafeCheck(&code));
    EXPECT_EQ(4171340100u, code);
    EXPECT_EQ(1, log.CountLines(kErrorLine));
    EXPECT_TRUE(log.Contains(c.line)) << log.Text();
  }
}

// The copy gets the switch and answers through the entry's own handler, which runs the
// real check: its answer must be the one this process gets from the same check.
TEST(InterfaceSafeCheckTest, CopyAnswersTheSwitchWithTheRealCheck) {
  test_support::ScopedTestLog log;
  ScopedCheckProgramForTesting program(ChildProgram(), kSlowMachineMs);
  ScopedChildMode mode(L"installer");
  bool in_process = CheckInterfaceInProcess();
  uint32_t code = MakeAvailabilityCode(16299, 15, 0);
  EXPECT_EQ(in_process, IsInternalInterfaceAvailableSafeCheck(&code));
  EXPECT_EQ(MakeAvailabilityCode(16299, 15, in_process ? 0 : 2), code);
  EXPECT_EQ(1, log.CountLines(kInfoLine));
}

TEST(InterfaceSafeCheckTest, WithoutTheSwitchNothingIsHandled) {
  // In this process: no switch, no answer, exit code untouched.
  int exit_code = 12345;
  EXPECT_FALSE(HandleCheckInterfaceSwitch(&exit_code));
  EXPECT_EQ(12345, exit_code);

  // A copy started with other switches only goes on as a normal run (exit 3 in the stand-in).
  ScopedChildMode mode(L"installer");
  std::wstring command_line = L"\"" + ChildProgram() + L"\" --check-the-interfaces --silent";
  platform::ProcessHandle child = platform::StartProcess(command_line, platform::StartOptions());
  ASSERT_TRUE(child.IsOpen());
  uint32_t child_exit = 0;
  ASSERT_TRUE(child.WaitExitFor(60000, &child_exit));
  EXPECT_EQ(3u, child_exit);

  // The switch in capitals and with another prefix is the same switch.
  command_line = L"\"" + ChildProgram() + L"\" /CHECK-THE-INTERFACE";
  child = platform::StartProcess(command_line, platform::StartOptions());
  ASSERT_TRUE(child.IsOpen());
  ASSERT_TRUE(child.WaitExitFor(60000, &child_exit));
  EXPECT_EQ(CheckInterfaceInProcess() ? 700u : 701u, child_exit);
}

// ---------------------------------------------------------------------------------------
// The parent-side decision.

platform::WindowsVersionInfo Version(int version_class, uint32_t build, uint32_t ubr) {
  platform::WindowsVersionInfo info;
  info.version_class = version_class;
  info.major = version_class >= platform::kWindows10 ? 10 : 6;
  info.build = build;
  info.ubr = ubr;
  return info;
}

TEST(InterfaceAvailableTest, VersionDecidesWhetherTheCopyIsAsked) {
  struct Case {
    int version_class;
    uint32_t build;
    uint32_t ubr;
    bool expected;
    uint32_t expected_code;
    bool copy_asked;
  };
  constexpr uint32_t kUntouched = 0xDEADBEEF;
  const Case cases[] = {
      {platform::kWindows8_1, 9600, 0, false, kUntouched, false},
      {platform::kWindows7, 7601, 0, false, kUntouched, false},
      {platform::kWindows10Build17127, 17134, 318, false, 2171340318u, true},
      {platform::kWindows10Build17127, 17134, 319, true, 171340319u, false},
      {platform::kWindows10Build16299, 16299, 15, false, 2162990015u, true},
      {platform::kWindows10Build17604, 17763, 1, true, 177630001u, false},
      // A build beyond what the code can hold is stored as 0 but still known good.
      {platform::kWindows10Build17604, 30000, 1, true, 1u, false},
      {platform::kWindowsOtherMajor, 22000, 8000, true, 220000000u, false},
  };
  ScopedCheckProgramForTesting program(ChildProgram(), kSlowMachineMs);
  ScopedChildMode mode(L"unavailable");
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.version_class << " " << c.build << "." << c.ubr);
    test_support::ScopedTestLog log;
    platform::ScopedWindowsVersionForTesting version(Version(c.version_class, c.build, c.ubr));
    uint32_t code = kUntouched;
    EXPECT_EQ(c.expected, IsInterfaceAvailable(&code));
    EXPECT_EQ(c.expected_code, code);
    EXPECT_EQ(c.copy_asked ? 1 : 0, log.CountLines(kInfoLine));
  }
}

TEST(InterfaceAvailableTest, HangingCopyGivesReasonThree) {
  ScopedCheckProgramForTesting program(ChildProgram());
  ScopedChildMode mode(L"hang");
  platform::ScopedWindowsVersionForTesting version(
      Version(platform::kWindows10Build16299, 16299, 15));
  uint32_t code = 0;
  EXPECT_FALSE(IsInterfaceAvailable(&code));
  EXPECT_EQ(3162990015u, code);
}

// ---------------------------------------------------------------------------------------
// The walk over the shell's interfaces, against a shell played by the test.

// Interface identifiers as the platform publishes them, in the order they are to be tried.
const GUID kRegistrationIids[] = {
    {0x2a848e25, 0xd688, 0x4aa3, {0x8e, 0x55, 0x0c, 0x16, 0xcb, 0x3a, 0x2d, 0xfb}},
    {0xfc0be3a5, 0x6be4, 0x423c, {0xb2, 0x87, 0x24, 0x89, 0x34, 0xe3, 0x79, 0xc7}},
    {0x14ebcc88, 0x2831, 0x4fc8, {0xa5, 0xdf, 0x9f, 0x36, 0xa8, 0x1d, 0xb1, 0x2c}},
    {0x1c5c9d10, 0x1225, 0x4c97, {0x8c, 0x51, 0x98, 0xe1, 0xb6, 0xf0, 0xd4, 0xe0}},
    {0x229d59e2, 0xf94a, 0x402e, {0x9a, 0x9f, 0x3b, 0x84, 0xa1, 0xac, 0xed, 0x77}},
};
const GUID kCompanionIid = {
    0xb00dc47b, 0xbff4, 0x4318, {0xbe, 0x5b, 0xa5, 0x85, 0x6f, 0x91, 0x69, 0xa2}};
const GUID kHandlerIid = {
    0xca635855, 0xb44e, 0x4541, {0x95, 0x91, 0x9f, 0xaa, 0x53, 0x35, 0x4a, 0x53}};
const GUID kEnumIid = {
    0x973810ae, 0x9599, 0x4b88, {0x9e, 0x4d, 0x6e, 0xe9, 0x8c, 0x95, 0x52, 0xda}};

// Counts the references the code under test holds; a Release below zero is a fault.
struct RefCount {
  long held = 0;
  bool over_released = false;
  ULONG Add() { return static_cast<ULONG>(++held); }
  ULONG Drop() {
    if (held == 0) {
      over_released = true;
      return 0;
    }
    return static_cast<ULONG>(--held);
  }
};

class FakeObject : public IUnknown {
 public:
  explicit FakeObject(std::vector<GUID> answers) : answers_(std::move(answers)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    for (const GUID& answer : answers_) {
      if (IsEqualGUID(iid, answer)) {
        AddRef();
        *object = static_cast<IUnknown*>(this);
        return S_OK;
      }
    }
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs.Drop(); }

  RefCount refs;

 private:
  std::vector<GUID> answers_;
};

class FakeHandler : public IAssocHandler {
 public:
  explicit FakeHandler(bool answers) : answers_(answers) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (!answers_ || !IsEqualGUID(iid, kHandlerIid)) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IUnknown*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs.Drop(); }
  HRESULT STDMETHODCALLTYPE GetName(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUIName(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPWSTR*, int*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsRecommended() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MakeDefault(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(IDataObject*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CreateInvoker(IDataObject*, IAssocHandlerInvoker**) override {
    return E_NOTIMPL;
  }

  RefCount refs;

 private:
  bool answers_;
};

// What the shell does for one protocol or extension.
enum class Handlers {
  kGood,            // enumeration with a handler that answers the handler interface
  kNoEnumeration,   // the enumeration call fails
  kEmpty,           // Next gives S_FALSE and no handler
  kNextFails,       // Next fails
  kWrongHandler,    // the handler does not answer the handler interface
};

class FakeEnum : public IEnumAssocHandlers {
 public:
  FakeEnum(Handlers behaviour, FakeHandler* handler) : behaviour_(behaviour), handler_(handler) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs.Add(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs.Drop(); }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IAssocHandler** handlers, ULONG* fetched) override {
    requested_counts.push_back(count);
    *handlers = nullptr;
    if (fetched) *fetched = 0;
    if (behaviour_ == Handlers::kNextFails) return E_FAIL;
    if (behaviour_ == Handlers::kEmpty) return S_FALSE;
    handler_->AddRef();
    *handlers = handler_;
    if (fetched) *fetched = 1;
    return S_OK;
  }

  RefCount refs;
  std::vector<ULONG> requested_counts;

 private:
  Handlers behaviour_;
  FakeHandler* handler_;
};

class FakeShell : public AssociationShell {
 public:
  // `accepted`: index of the first registration identifier the shell knows, -1 for none.
  FakeShell(int accepted, bool companion, std::map<std::wstring, Handlers> handlers)
      : accepted_(accepted),
        registration_(companion ? std::vector<GUID>{kCompanionIid} : std::vector<GUID>{}),
        handlers_(std::move(handlers)),
        good_handler_(true),
        wrong_handler_(false) {
    for (const auto& [name, behaviour] : handlers_) {
      enums_.emplace(name, FakeEnum(behaviour, behaviour == Handlers::kWrongHandler
                                                    ? &wrong_handler_
                                                    : &good_handler_));
    }
  }

  HRESULT CreateAssociationRegistration(REFIID iid, void** object) override {
    int index = -1;
    for (int i = 0; i < 5; ++i) {
      if (IsEqualGUID(iid, kRegistrationIids[i])) index = i;
    }
    calls.push_back(L"create " + std::to_wstring(index));
    if (index >= 0 && index == accepted_) {
      registration_.AddRef();
      *object = static_cast<IUnknown*>(&registration_);
      return S_OK;
    }
    // A sloppy shell: a failing call that leaves a pointer behind, which is not a reference.
    *object = &stray_;
    return E_NOINTERFACE;
  }

  HRESULT EnumHandlersForProtocol(const wchar_t* protocol, REFIID iid,
                                  void** enumerator) override {
    calls.push_back(std::wstring(L"protocol ") + protocol);
    if (!IsEqualGUID(iid, kEnumIid)) return E_NOINTERFACE;
    IEnumAssocHandlers* found = nullptr;
    HRESULT hr = Enumerate(protocol, &found);
    *enumerator = found;
    return hr;
  }

  HRESULT EnumHandlersForExtension(const wchar_t* extension,
                                   IEnumAssocHandlers** enumerator) override {
    calls.push_back(std::wstring(L"extension ") + extension);
    return Enumerate(extension, enumerator);
  }

  // Every reference handed out came back, and none was returned twice.
  void ExpectAllReleased() const {
    for (const RefCount* refs : {&registration_.refs, &stray_.refs, &good_handler_.refs,
                                 &wrong_handler_.refs}) {
      EXPECT_EQ(0, refs->held);
      EXPECT_FALSE(refs->over_released);
    }
    for (const auto& [name, fake] : enums_) {
      EXPECT_EQ(0, fake.refs.held) << name;
      EXPECT_FALSE(fake.refs.over_released) << name;
      for (ULONG count : fake.requested_counts) EXPECT_EQ(1u, count) << name;
    }
  }

  std::vector<std::wstring> calls;

 private:
  HRESULT Enumerate(const wchar_t* name, IEnumAssocHandlers** enumerator) {
    *enumerator = nullptr;
    auto it = enums_.find(name);
    if (it == enums_.end() || handlers_[name] == Handlers::kNoEnumeration) return E_FAIL;
    it->second.AddRef();
    *enumerator = &it->second;
    return S_OK;
  }

  int accepted_;
  FakeObject registration_;
  FakeObject stray_{{}};
  std::map<std::wstring, Handlers> handlers_;
  FakeHandler good_handler_;
  FakeHandler wrong_handler_;
  std::map<std::wstring, FakeEnum> enums_;
};

std::map<std::wstring, Handlers> AllGood() {
  return {{L"http", Handlers::kGood},
          {L"https", Handlers::kGood},
          {L".htm", Handlers::kGood},
          {L".html", Handlers::kGood}};
}

std::map<std::wstring, Handlers> GoodExcept(const std::wstring& name, Handlers behaviour) {
  std::map<std::wstring, Handlers> handlers = AllGood();
  handlers[name] = behaviour;
  return handlers;
}

TEST(InterfaceInProcessTest, WalkOverTheShellInterfaces) {
  const std::vector<std::wstring> kFullWalk = {L"create 0", L"protocol http",
                                               L"protocol https", L"extension .htm",
                                               L"extension .html"};
  struct Case {
    const char* name;
    int accepted;
    bool companion;
    std::map<std::wstring, Handlers> handlers;
    bool expected;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {"no registration interface", -1, true, AllGood(), false,
       {L"create 0", L"create 1", L"create 2", L"create 3", L"create 4"}},
      {"third identifier is enough", 2, false, {}, true,
       {L"create 0", L"create 1", L"create 2"}},
      {"fifth identifier is enough", 4, false, {}, true,
       {L"create 0", L"create 1", L"create 2", L"create 3", L"create 4"}},
      {"first without companion", 0, false, AllGood(), false, {L"create 0"}},
      {"second with everything", 1, true, AllGood(), true,
       {L"create 0", L"create 1", L"protocol http", L"protocol https", L"extension .htm",
        L"extension .html"}},
      {"first with everything", 0, true, AllGood(), true, kFullWalk},
      {"https cannot be enumerated", 0, true, GoodExcept(L"https", Handlers::kNoEnumeration),
       false, {L"create 0", L"protocol http", L"protocol https"}},
      {"http has no handler", 0, true, GoodExcept(L"http", Handlers::kEmpty), false,
       {L"create 0", L"protocol http"}},
      {".htm enumeration fails", 0, true, GoodExcept(L".htm", Handlers::kNextFails), false,
       {L"create 0", L"protocol http", L"protocol https", L"extension .htm"}},
      {".html handler lacks the interface", 0, true,
       GoodExcept(L".html", Handlers::kWrongHandler), false, kFullWalk},
      {"http handler lacks the interface", 0, true,
       GoodExcept(L"http", Handlers::kWrongHandler), false, {L"create 0", L"protocol http"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeShell shell(c.accepted, c.companion, c.handlers);
    EXPECT_EQ(c.expected, CheckInterfaceInProcessForTesting(&shell));
    EXPECT_EQ(c.calls, shell.calls);
    shell.ExpectAllReleased();
  }
}

}  // namespace
}  // namespace win10_default_browser
}  // namespace installer
