#include "platform/process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/fatal.h"
#include "platform/strings.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace platform {
namespace {

std::wstring Probe(const std::wstring& arguments) {
  return L"\"" + test_support::BuildFile(L"test_programs\\platform_probe.exe") + L"\" " +
         arguments;
}

std::wstring Hex(HANDLE handle) {
  return Widen(ToHexString(reinterpret_cast<uintptr_t>(handle)));
}

// An unnamed event that children can inherit.
class InheritableEvent {
 public:
  InheritableEvent() {
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, TRUE};
    handle_.reset(CreateEventW(&attributes, TRUE, FALSE, nullptr));
  }
  HANDLE get() const { return handle_.get(); }
  bool IsSet() const { return WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0; }

 private:
  ScopedKernelHandle handle_;
};

uint32_t RunToEnd(const std::wstring& command_line, const StartOptions& options) {
  ProcessHandle process = StartProcess(command_line, options);
  EXPECT_TRUE(process.IsOpen()) << command_line << " error " << GetLastError();
  uint32_t exit_code = 0xBAD;
  EXPECT_TRUE(process.WaitExitFor(30000, &exit_code)) << command_line;
  return exit_code;
}

TEST(ProcessTest, StartProcessWaitsAndReportsTheExitCode) {
  const uint32_t codes[] = {0, 1, 42, 600, 0xC0000005u, 0xFFFFFFFFu};
  for (uint32_t code : codes) {
    StartOptions options;
    options.wait = true;
    ProcessHandle process = StartProcess(Probe(L"exit " + ToWString(code)), options);
    ASSERT_TRUE(process.IsOpen()) << code;
    EXPECT_NE(0u, process.Id());
    // The wait option returned only after the end, so no time is needed now.
    uint32_t exit_code = 0xBAD;
    EXPECT_TRUE(process.WaitExitFor(0, &exit_code)) << code;
    EXPECT_EQ(code, exit_code);
  }
}

TEST(ProcessTest, StartProcessOfAMissingProgramFails) {
  test_support::ScopedTempDir dir;
  ProcessHandle process =
      StartProcess(L"\"" + dir.File(L"missing.exe") + L"\" --flag", StartOptions());
  EXPECT_FALSE(process.IsOpen());
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_EQ(nullptr, process.handle());
  EXPECT_EQ(0u, process.Id());
}

TEST(ProcessTest, WaitExitForTimesOutAndKillEnds) {
  ProcessHandle process = StartProcess(Probe(L"sleep 60000"), StartOptions());
  ASSERT_TRUE(process.IsOpen());
  const int64_t timeouts[] = {-5, -1, 0, 30};
  for (int64_t timeout : timeouts) {
    uint32_t exit_code = 0xBAD;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(process.WaitExitFor(timeout, &exit_code)) << timeout;
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError()) << timeout;
    EXPECT_EQ(0xBADu, exit_code) << timeout;
  }
  EXPECT_TRUE(process.Kill(7, true));
  uint32_t exit_code = 0;
  EXPECT_TRUE(process.WaitExitFor(0, &exit_code));
  EXPECT_EQ(7u, exit_code);
}

TEST(ProcessTest, TimeoutsOfTwoToTheThirtySecondAndMoreWaitWithoutLimit) {
  const int64_t timeouts[] = {0x100000000LL, 0x7FFFFFFFFFFFFFFFLL};
  for (int64_t timeout : timeouts) {
    ProcessHandle process = StartProcess(Probe(L"sleep 300"), StartOptions());
    ASSERT_TRUE(process.IsOpen());
    uint32_t exit_code = 0xBAD;
    // Truncated to 32 bits these would be 0 and 4294967295 ms; the first would fail at once.
    EXPECT_TRUE(process.WaitExitFor(timeout, &exit_code)) << timeout;
    EXPECT_EQ(0u, exit_code);
  }
  ProcessHandle process = StartProcess(Probe(L"exit 3"), StartOptions());
  uint32_t exit_code = 0;
  EXPECT_TRUE(process.WaitExit(&exit_code));
  EXPECT_EQ(3u, exit_code);
}

TEST(ProcessTest, KillWithoutWaitAndOnNothing) {
  ProcessHandle process = StartProcess(Probe(L"sleep 60000"), StartOptions());
  ASSERT_TRUE(process.IsOpen());
  EXPECT_TRUE(process.Kill(9, false));
  uint32_t exit_code = 0;
  EXPECT_TRUE(process.WaitExitFor(30000, &exit_code));
  EXPECT_EQ(9u, exit_code);

  ProcessHandle nothing;
  EXPECT_FALSE(nothing.Kill(1, true));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
  EXPECT_FALSE(nothing.WaitExitFor(0, &exit_code));
  EXPECT_EQ(9u, exit_code);
}

TEST(ProcessTest, HandleInheritanceFollowsTheMode) {
  struct Case {
    StartOptions::InheritMode mode;
    bool list_first;       // the list holds the first event only
    bool signal_first;     // the child signals the first event, else the second
    uint32_t exit_code;    // 0: the child could use the handle
  };
  using Mode = StartOptions::InheritMode;
  const Case cases[] = {
      {Mode::kList, true, true, 0},
      {Mode::kList, true, false, 1},
      {Mode::kList, false, true, 1},
      {Mode::kAll, false, false, 0},
      {Mode::kAll, false, true, 0},
      {Mode::kNone, false, true, 1},
  };
  int index = 0;
  for (const Case& c : cases) {
    InheritableEvent first, second;
    ASSERT_NE(nullptr, first.get());
    ASSERT_NE(nullptr, second.get());
    StartOptions options;
    options.inherit_mode = c.mode;
    if (c.list_first) options.handles_to_inherit = {first.get(), first.get()};
    HANDLE target = c.signal_first ? first.get() : second.get();
    EXPECT_EQ(c.exit_code, RunToEnd(Probe(L"signal " + Hex(target)), options)) << index;
    InheritableEvent* signalled = c.signal_first ? &first : &second;
    EXPECT_EQ(c.exit_code == 0, signalled->IsSet()) << index;
    ++index;
  }
}

TEST(ProcessTest, StandardHandlesReachTheChild) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, TRUE};
  ScopedKernelHandle read_end, write_end;
  ASSERT_TRUE(CreatePipe(read_end.receive(), write_end.receive(), &attributes, 0));
  SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  InheritableEvent unrelated;
  StartOptions options;
  options.stdout_handle = write_end.get();
  // With standard handles and no inheritance, only they are inherited.
  ProcessHandle printer = StartProcess(Probe(L"print hello_from_child"), options);
  ASSERT_TRUE(printer.IsOpen()) << GetLastError();
  uint32_t exit_code = 0xBAD;
  ASSERT_TRUE(printer.WaitExitFor(30000, &exit_code));
  EXPECT_EQ(0u, exit_code);
  // Not inherited: the child cannot reach the event (the same number may name some handle of
  // its own, so what counts is that the parent's event stays unset).
  RunToEnd(Probe(L"signal " + Hex(unrelated.get())), options);
  EXPECT_FALSE(unrelated.IsSet());
  write_end.reset();
  std::string output;
  char buffer[256];
  DWORD read = 0;
  while (ReadFile(read_end.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    output.append(buffer, read);
  }
  EXPECT_EQ("hello_from_child", output);
}

TEST(ProcessTest, JobObjectHoldsTheProcess) {
  ScopedKernelHandle job(CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.is_valid());
  StartOptions options;
  options.job = job.get();
  ProcessHandle process = StartProcess(Probe(L"sleep 60000"), options);
  ASSERT_TRUE(process.IsOpen()) << GetLastError();
  BOOL in_job = FALSE;
  ASSERT_TRUE(IsProcessInJob(process.handle(), job.get(), &in_job));
  EXPECT_TRUE(in_job);
  // It was resumed: it is sleeping, not suspended, so it is still running...
  uint32_t exit_code = 0;
  EXPECT_FALSE(process.WaitExitFor(0, &exit_code));
  // ...and ending the job ends it.
  ASSERT_TRUE(TerminateJobObject(job.get(), 33));
  EXPECT_TRUE(process.WaitExitFor(30000, &exit_code));
  EXPECT_EQ(33u, exit_code);

  // A process that exits by itself inside the job.
  EXPECT_EQ(5u, RunToEnd(Probe(L"exit 5"), options));
}

TEST(ProcessTest, FailedJobAssignmentKillsTheProcessBeforeItRuns) {
  InheritableEvent event;
  InheritableEvent not_a_job;
  StartOptions options;
  options.inherit_mode = StartOptions::InheritMode::kAll;
  options.job = not_a_job.get();
  ProcessHandle process = StartProcess(Probe(L"signal " + Hex(event.get())), options);
  EXPECT_FALSE(process.IsOpen());
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  Sleep(100);
  EXPECT_FALSE(event.IsSet());
}

TEST(ProcessTest, UserTokenGetsAFreshEnvironment) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"LI_PROCESS_TEST_ONLY_HERE", L"1"));
  std::wstring command = Probe(L"env LI_PROCESS_TEST_ONLY_HERE");
  EXPECT_EQ(0u, RunToEnd(command, StartOptions()));

  ScopedKernelHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token.receive()));
  StartOptions options;
  options.user_token = token.get();
  // The block built for the user holds the user's variables, not this process's.
  EXPECT_EQ(1u, RunToEnd(command, options));
  EXPECT_EQ(0u, RunToEnd(Probe(L"env PATH"), options));
  SetEnvironmentVariableW(L"LI_PROCESS_TEST_ONLY_HERE", nullptr);
}

TEST(ProcessTest, WindowAndDesktopOptionsStillStart) {
  using Show = StartOptions::ShowState;
  for (Show show : {Show::kDefault, Show::kHidden, Show::kNormal}) {
    StartOptions options;
    options.show_state = show;
    options.force_breakaway_from_job = show == Show::kNormal;
    EXPECT_EQ(12u, RunToEnd(Probe(L"exit 12"), options));
  }
}

TEST(ProcessTest, FatalStopEndsTheProcessWithItsCode) {
  EXPECT_EQ(kFatalStopExitCode, RunToEnd(Probe(L"fatal"), StartOptions()));
}

TEST(ProcessHandleTest, CurrentAndOwnedHandles) {
  ProcessHandle none;
  EXPECT_FALSE(none.IsOpen());
  EXPECT_FALSE(ProcessHandle(INVALID_HANDLE_VALUE).IsOpen());
  EXPECT_FALSE(ProcessHandle(nullptr).IsOpen());

  ProcessHandle current = ProcessHandle::Current();
  EXPECT_TRUE(current.IsOpen());
  EXPECT_EQ(GetCurrentProcess(), current.handle());
  EXPECT_EQ(GetCurrentProcessId(), current.Id());
  ProcessHandle moved = std::move(current);
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(current.IsOpen());  // NOLINT(bugprone-use-after-move): the state is defined
  EXPECT_EQ(GetCurrentProcessId(), moved.Id());

  ProcessHandle child = StartProcess(Probe(L"sleep 60000"), StartOptions());
  ASSERT_TRUE(child.IsOpen());
  ProcessHandle opened = ProcessHandle::Open(child.Id(), SYNCHRONIZE | PROCESS_QUERY_INFORMATION |
                                                             PROCESS_TERMINATE);
  ASSERT_TRUE(opened.IsOpen());
  EXPECT_EQ(child.Id(), opened.Id());
  EXPECT_TRUE(opened.Kill(4, true));
  uint32_t exit_code = 0;
  EXPECT_TRUE(child.WaitExitFor(0, &exit_code));
  EXPECT_EQ(4u, exit_code);

  HANDLE raw = child.Release();
  EXPECT_FALSE(child.IsOpen());
  ASSERT_NE(nullptr, raw);
  EXPECT_TRUE(CloseHandle(raw));
  EXPECT_FALSE(ProcessHandle::Open(0x7FFFFFF0, SYNCHRONIZE).IsOpen());
}

TEST(BringProcessWindowToTopTest, WrongProcessIdIsLogged) {
  test_support::ScopedTestLog log;
  EXPECT_FALSE(BringProcessWindowToTop(0));
  EXPECT_TRUE(log.Contains(L"ERROR: BringProcessWindowToTop (1003): Failed to bring process "
                           L"window to top: wrong process id"))
      << log.Text();
}

TEST(BringProcessWindowToTopTest, AProcessWithoutWindowsFails) {
  ProcessHandle process = StartProcess(Probe(L"sleep 60000"), StartOptions());
  ASSERT_TRUE(process.IsOpen());
  EXPECT_FALSE(BringProcessWindowToTop(process.Id()));
  process.Kill(0, true);
}

struct WindowLookup {
  DWORD process_id;
  HWND window;
};

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
  auto* lookup = reinterpret_cast<WindowLookup*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == lookup->process_id && IsWindowVisible(window)) {
    lookup->window = window;
    return FALSE;
  }
  return TRUE;
}

TEST(BringProcessWindowToTopTest, TheChildsWindowBecomesTheForegroundWindow) {
  ProcessHandle first = StartProcess(Probe(L"window first 20000"), StartOptions());
  ProcessHandle second = StartProcess(Probe(L"window second 20000"), StartOptions());
  ASSERT_TRUE(first.IsOpen());
  ASSERT_TRUE(second.IsOpen());
  WindowLookup lookup{first.Id(), nullptr};
  WindowLookup second_lookup{second.Id(), nullptr};
  for (int i = 0; i < 200 && (!lookup.window || !second_lookup.window); ++i) {
    Sleep(50);
    EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&lookup));
    EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&second_lookup));
  }
  ASSERT_NE(nullptr, lookup.window);
  ASSERT_NE(nullptr, second_lookup.window);
  for (ProcessHandle* process : {&first, &second, &first}) {
    EXPECT_TRUE(BringProcessWindowToTop(process->Id()));
    DWORD owner = 0;
    GetWindowThreadProcessId(GetForegroundWindow(), &owner);
    EXPECT_EQ(process->Id(), owner);
  }
  first.Kill(0, true);
  second.Kill(0, true);
}

}  // namespace
}  // namespace platform
