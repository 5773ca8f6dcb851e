// The runtime replacements of entry/runtime_overrides.cc, linked into this program the way
// they are linked into the installer: first use of function-local statics from racing and
// nested initialisers, operator new at its limits and the abort it ends in, and the JSON
// parser's real numbers over the system CRT's strtod.
#include <windows.h>

#include <jansson.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/fatal.h"
#include "platform/logging.h"
#include "tests/support/child_process.h"
#include "tests/support/test_log.h"

namespace {

// --- Function-local statics ---------------------------------------------------------------

std::atomic<int> g_slow_constructions{0};

struct Slow {
  Slow() {
    ++g_slow_constructions;
    // Long enough for every racing thread to reach the guard while this one is inside.
    Sleep(100);
    value = 42;
  }
  int value = 0;
};

const Slow& SlowInstance() {
  static Slow instance;
  return instance;
}

struct Racer {
  HANDLE start = nullptr;
  const Slow* seen = nullptr;
  int value_seen = 0;
};

DWORD WINAPI Race(void* context) {
  auto* racer = static_cast<Racer*>(context);
  WaitForSingleObject(racer->start, INFINITE);
  const Slow& instance = SlowInstance();
  racer->seen = &instance;
  racer->value_seen = instance.value;
  return 0;
}

TEST(StaticGuardTest, RacingThreadsSeeOneFinishedObject) {
  HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(nullptr, start);
  constexpr int kThreads = 8;
  std::vector<Racer> racers(kThreads);
  std::vector<HANDLE> threads;
  for (Racer& racer : racers) {
    racer.start = start;
    HANDLE thread = CreateThread(nullptr, 0, Race, &racer, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    threads.push_back(thread);
  }
  SetEvent(start);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kThreads, threads.data(), TRUE, 30000));
  for (HANDLE thread : threads) CloseHandle(thread);
  CloseHandle(start);

  EXPECT_EQ(1, g_slow_constructions.load());
  for (const Racer& racer : racers) {
    EXPECT_EQ(&SlowInstance(), racer.seen);
    // No thread went on before the constructor had finished.
    EXPECT_EQ(42, racer.value_seen);
  }
}

int g_inner_constructions = 0;
int g_outer_constructions = 0;

int Inner() {
  static int inner = (++g_inner_constructions, 7);
  return inner;
}

int Outer() {
  // The outer initialiser holds the guard lock while it runs the inner one.
  static int outer = (++g_outer_constructions, Inner() * 6);
  return outer;
}

TEST(StaticGuardTest, NestedInitialisersRunOnceEach) {
  EXPECT_EQ(42, Outer());
  EXPECT_EQ(42, Outer());
  EXPECT_EQ(7, Inner());
  EXPECT_EQ(1, g_outer_constructions);
  EXPECT_EQ(1, g_inner_constructions);
}

int SelfReferencing(int depth);

int SelfReferencingStatic() {
  static int value = SelfReferencing(1);
  return value;
}

int SelfReferencing(int depth) { return depth > 3 ? depth : SelfReferencingStatic() + depth; }

// What the program's own abort ends with (the runtime's would be a message box, then 3).
const int kFatalStopExit = static_cast<int>(platform::kFatalStopExitCode);

TEST(StaticGuardDeathTest, InitialiserThatReentersItsOwnStaticEndsTheProcess) {
  // The library would throw recursive_init_error, which nothing catches.
  EXPECT_EXIT(SelfReferencingStatic(), testing::ExitedWithCode(kFatalStopExit), "");
}

// --- operator new -------------------------------------------------------------------------

TEST(OperatorNewTest, ZeroSizedBlocksAreDistinct) {
  void* first = ::operator new(0);
  void* second = ::operator new(0);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  ::operator delete(first);
  ::operator delete(second);
}

TEST(OperatorNewTest, BlocksHoldWhatIsWrittenAndArraysGoThroughIt) {
  auto* bytes = new unsigned char[4096];
  memset(bytes, 0xA5, 4096);
  EXPECT_EQ(0xA5, bytes[4095]);
  delete[] bytes;
  std::string text(100000, 'x');
  EXPECT_EQ(100000u, text.size());
}

TEST(OperatorNewDeathTest, ExhaustedMemoryEndsTheProcessWithALogLine) {
  // More than any process can ever get; the library would throw bad_alloc uncaught. The
  // stop opens the log itself, as it does before the installer's entry has.
  volatile size_t size = SIZE_MAX - 15;
  const std::wstring log = test_support::DeathTestLogPath();
  EXPECT_EXIT(
      {
        platform::SetFatalLogOpener(test_support::OpenDeathTestLog);
        void* block = ::operator new(size);
        ::operator delete(block);
      },
      testing::ExitedWithCode(kFatalStopExit), "");
  EXPECT_EQ(1, test_support::CountContaining(test_support::ReadUtf16Lines(log),
                                             L"ERROR: FatalStop ("));
  EXPECT_EQ(1, test_support::CountContaining(test_support::ReadUtf16Lines(log),
                                             L"the process stops: abort (a failed allocation"));
  test_support::ForgetDeathTestLog();
}

// --- Real numbers in JSON ------------------------------------------------------------------

struct ParseResult {
  bool accepted = false;
  double value = 0;
  std::string error;
};

ParseResult ParseReal(const std::string& number) {
  const std::string text = "{\"v\": " + number + "}";
  json_error_t error;
  json_t* root = json_loadb(text.data(), text.size(), 0, &error);
  ParseResult result;
  if (root == nullptr) {
    result.error = error.text;
    return result;
  }
  json_t* value = json_object_get(root, "v");
  result.accepted = json_is_real(value);
  result.value = json_real_value(value);
  json_decref(root);
  return result;
}

TEST(JsonRealTest, NumbersParseOrAreRefusedOnOverflow) {
  const struct {
    const char* text;
    bool accepted;
    double value;
  } cases[] = {
      {"0.5", true, 0.5},
      {"-0.0125", true, -0.0125},
      {"2.5e3", true, 2500.0},
      {"1E+2", true, 100.0},
      {"-7e-1", true, -0.7},
      {"123456789.25", true, 123456789.25},
      {"1e-400", true, 0.0},  // underflow is a value, not an error
      {"1e400", false, 0},
      {"-1e400", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ParseResult result = ParseReal(c.text);
    EXPECT_EQ(c.accepted, result.accepted) << result.error;
    if (c.accepted) {
      EXPECT_EQ(c.value, result.value);
    } else {
      EXPECT_NE(std::string::npos, result.error.find("real number overflow")) << result.error;
    }
  }
}

TEST(JsonRealTest, TheSystemStrtodServesTheParser) {
  // MinGW's own converter reads C99 hexadecimal numbers; the system CRT's stops at the "x".
  // Without the replacement in the link, the cases above would prove nothing about it.
  const char text[] = "0x10";
  char* end = nullptr;
  const double value = strtod(text, &end);
  EXPECT_EQ(0.0, value);
  EXPECT_EQ(text + 1, end);
}

}  // namespace
