#include "install/elevated_process.h"

#include <windows.h>

#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/shared_sections.h"
#include "platform/strings.h"
#include "tests/support/child_process.h"
#include "tests/support/test_log.h"

namespace installer {
namespace {

// A run id of one test, so that test processes running at the same time never share one.
std::string UniqueRunId() {
  static int counter = 0;
  char id[33];
  snprintf(id, sizeof(id), "%08lx%08lx%08x%08lx", GetCurrentProcessId(), GetTickCount(),
           ++counter, 0x7e57ul);
  return id;
}

class ElevatedProcessTest : public testing::Test {
 protected:
  ElevatedProcessTest() : run_id_(UniqueRunId()) {}

  // A child that hangs is waited for `finish_timeout_ms`; the default leaves a slow start
  // under Wine time to open its events.
  std::unique_ptr<ElevatedProcess> MakeRecord(uint32_t finish_timeout_ms = 30000) {
    auto record = std::make_unique<ElevatedProcess>(run_id_);
    record->SetFinishTimeoutForTesting(finish_timeout_ms);
    return record;
  }

  std::wstring Name(ElevatedEvent event) const {
    return platform::Widen(ElevatedEventName(run_id_, event));
  }

  // Starts the fake child and attaches a duplicate of its handle to `record`; `child_` keeps
  // the original so the test can read the exit code after the record is gone.
  void StartChild(ElevatedProcess* record, const char* mode) {
    std::wstring command_line = L"\"" + test_support::TestProgram(L"fake_elevated_child.exe") +
                                L"\" --go=" + Name(ElevatedEvent::kGo) +
                                L" --stop=" + Name(ElevatedEvent::kStop) + L" --taken=" +
                                Name(ElevatedEvent::kTaken) + L" --mode=" +
                                platform::Widen(mode);
    ASSERT_TRUE(child_.Start(command_line));
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), child_.handle(), GetCurrentProcess(),
                                &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
    record->Attach(duplicate, nullptr);
  }

  int32_t ChildExitCode() {
    int32_t code = 12345;
    EXPECT_TRUE(child_.Wait(30000, &code));
    return code;
  }

  test_support::ScopedTestLog log_;
  std::string run_id_;
  test_support::ChildProcess child_;
};

TEST_F(ElevatedProcessTest, EventsExistWhileTheRecordLives) {
  auto record = MakeRecord();
  ASSERT_TRUE(record->ready());
  ASSERT_NE(nullptr, record->go_event());
  ASSERT_NE(nullptr, record->stop_event());
  HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, Name(ElevatedEvent::kGo).c_str());
  ASSERT_NE(nullptr, go);
  // Created unsignalled.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(go, 0));
  CloseHandle(go);
  EXPECT_FALSE(record->started());
  EXPECT_EQ(0xFFFFFFFFu, record->exit_code());
  record.reset();
  EXPECT_EQ(nullptr, OpenEventW(SYNCHRONIZE, FALSE, Name(ElevatedEvent::kGo).c_str()));
  EXPECT_EQ(nullptr, OpenEventW(SYNCHRONIZE, FALSE, Name(ElevatedEvent::kStop).c_str()));
}

// Whoever made one of a run's events first could set or take it: such a record is not
// ready (the installer then starts no child), and the planted event is left as it was.
TEST_F(ElevatedProcessTest, AnEventNameThatExistsIsRefused) {
  for (ElevatedEvent planted : {ElevatedEvent::kGo, ElevatedEvent::kStop, ElevatedEvent::kTaken}) {
    SCOPED_TRACE(static_cast<int>(planted));
    run_id_ = UniqueRunId();
    platform::ScopedKernelHandle first(CreateEventW(nullptr, FALSE, TRUE, Name(planted).c_str()));
    ASSERT_TRUE(first);
    test_support::ScopedTestLog log;
    auto record = MakeRecord();
    EXPECT_FALSE(record->ready());
    EXPECT_EQ(1, log.CountLines(L"exists already; it is not used.")) << log.Text();
    record.reset();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(first.get(), 0));
  }
}

// A child's exit code alone says nothing: one that wrote no run report (as this stand-in
// never does: it is another image) ran no setup, whatever it ended with.
TEST_F(ElevatedProcessTest, RunModuleWaitsForTheChildAndNeedsItsReport) {
  auto record = MakeRecord();
  StartChild(record.get(), "exit0");
  EXPECT_FALSE(record->RunModule(nullptr));
  EXPECT_TRUE(record->started());
  EXPECT_EQ(0u, record->exit_code());
  record.reset();
  EXPECT_FALSE(log_.Contains(L"EnsureProcessFinished")) << log_.Text();
  EXPECT_EQ(1, log_.CountLines(L"ERROR: RunModule (")) << log_.Text();
  EXPECT_EQ(1, log_.CountLines(L"ran no setup to its end; it exited with 0.")) << log_.Text();
}

// Any process of the user can take the go. Until the child confirms it, the wait ends on the
// flow's stop and, without one, after its bound; the child counts as never released, so the
// record tells it to stop (this one ignores that and is terminated).
TEST_F(ElevatedProcessTest, GoNobodyConfirmsIsTakenBackOrEndsAfterAShortWait) {
  // The child never looks at its events. On the stop nobody has taken the go: it is taken
  // back. On the time-out another process of the user (the test) has taken it and never
  // confirms: the record gives up after the short wait.
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop);
    auto record = MakeRecord(1000);
    record->SetGoTakenTimeoutForTesting(stop ? kElevatedGoTakenTimeoutMs : 500);
    StartChild(record.get(), "asleep");
    std::thread taker;
    if (!stop) taker = std::thread([go = record->go_event()] { WaitForSingleObject(go, INFINITE); });
    platform::ScopedKernelHandle stop_event(CreateEventW(nullptr, TRUE, stop, nullptr));
    EXPECT_FALSE(record->RunModule(stop_event.get()));
    if (taker.joinable()) taker.join();
    EXPECT_FALSE(record->started());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(record->go_event(), 0));
    record.reset();
    EXPECT_EQ(0, ChildExitCode());
  }
  EXPECT_EQ(1, log_.CountLines(L"ERROR: RunModule (1406): The elevated installer was terminated "
                               L"due to stop event."))
      << log_.Text();
  EXPECT_EQ(1, log_.CountLines(L"): The elevated installer did not confirm its go.")) << log_.Text();
}

TEST_F(ElevatedProcessTest, ChildNeverReleasedIsToldToStop) {
  auto record = MakeRecord();
  StartChild(record.get(), "exit0");
  record.reset();
  // -1 is the child's own answer to stop; a terminated child would show 0.
  EXPECT_EQ(-1, ChildExitCode());
  EXPECT_FALSE(log_.Contains(L"EnsureProcessFinished")) << log_.Text();
}

TEST_F(ElevatedProcessTest, ChildThatIgnoresStopIsTerminatedAfterTheTimeOut) {
  auto record = MakeRecord(1000);
  StartChild(record.get(), "deaf");
  record->EnsureProcessFinished();
  EXPECT_TRUE(record->forcibly_terminated());
  EXPECT_EQ(0, ChildExitCode());
  EXPECT_EQ(1, log_.CountLines(L"ERROR: EnsureProcessFinished (1386)")) << log_.Text();
}

TEST_F(ElevatedProcessTest, RecordWithoutChild) {
  auto record = MakeRecord();
  // Nothing to wait for: the wait on a missing handle fails at once.
  EXPECT_FALSE(record->RunModule(nullptr));
  record->EnsureProcessFinished();
  EXPECT_FALSE(record->forcibly_terminated());
  record.reset();
  EXPECT_FALSE(log_.Contains(L"EnsureProcessFinished")) << log_.Text();
}

TEST_F(ElevatedProcessTest, OwnerWindowIsDestroyedWithTheRecord) {
  HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  auto record = MakeRecord();
  record->Attach(nullptr, window);
  record.reset();
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(ElevatedProcessTest, OwnerWindowOfAnotherThreadIsClosedThere) {
  HWND window = nullptr;
  platform::ScopedKernelHandle created(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread window_thread([&] {
    window = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                             nullptr, nullptr, nullptr);
    SetEvent(created.get());
    MSG message;
    DWORD start = GetTickCount();
    while (IsWindow(window) && GetTickCount() - start < 10000) {
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      Sleep(10);
    }
  });
  WaitForSingleObject(created.get(), 10000);
  ASSERT_NE(nullptr, window);
  auto record = MakeRecord();
  record->Attach(nullptr, window);
  record.reset();
  window_thread.join();
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
}  // namespace installer
