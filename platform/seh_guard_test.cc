// The exception guard with real structured exceptions raised inside the guarded call.
#include "platform/seh_guard.h"

#include <windows.h>
#include <delayimp.h>

#include <gtest/gtest.h>

#include "tests/support/fake_internet_api.h"
#include "tests/support/faults.h"

// Imports of a DLL that does not exist, delay-loaded (tests/delay_load_test.cmake).
extern "C" int __stdcall LiMissingByName(void);
extern "C" int __stdcall LiMissingByOrdinal(void);

namespace installer {
namespace {

using test_support::RaiseDelayLoadFailure;

// Where a called function's frame lies: moves if a guard left the stack pointer elsewhere.
__attribute__((noinline)) uintptr_t CalleeFrame() {
  volatile char local = 0;
  return reinterpret_cast<uintptr_t>(&local);
}

// What a guard must leave as it found it: on x86 the head of the thread's frame chain; x64
// has no chain, so the stack position stands for it there.
void* FrameChainHead() {
#if defined(__i386__)
  void* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
#else
  return reinterpret_cast<void*>(CalleeFrame());
#endif
}

void WriteToNull(void*) { test_support::WriteThroughNull(); }

TEST(SehGuardTest, NormalReturnRunsTheCallOnceAndClearsTheRecord) {
  int calls = 0;
  auto call = [&] { ++calls; };
  SehExceptionInfo info;
  info.code = 5;
  info.dll = "stale";
  void* head = FrameChainHead();
  EXPECT_TRUE(CallGuarded(call, &info));
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0u, info.code);
  EXPECT_EQ("", info.dll);
  EXPECT_EQ(head, FrameChainHead());
  EXPECT_TRUE(CallGuarded(call, nullptr));
  EXPECT_EQ(2, calls);
}

TEST(SehGuardTest, RecordsTheCodeAndTheDelayLoadNames) {
  struct Case {
    const char* name;
    void (*raise)();
    uint32_t code;
    const char* dll;
    const char* proc;
  } cases[] = {
      {"access violation", [] { WriteToNull(nullptr); }, 0xC0000005, "", ""},
      {"integer division by zero",
       [] {
         volatile int zero = 0;
         volatile int result = 10 / zero;
         (void)result;
       },
       0xC0000094, "", ""},
      {"software exception", [] { RaiseException(0xE0424242, 0, 0, nullptr); }, 0xE0424242, "",
       ""},
      // The processor's own faults, each of which an emulated 32-bit Wine must tell apart.
      {"read of an unmapped page",
       [] { (void)*reinterpret_cast<volatile int*>(static_cast<uintptr_t>(0x10)); }, 0xC0000005,
       "", ""},
      {"guard page",
       [] {
         auto page = static_cast<volatile char*>(
             VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE | PAGE_GUARD));
         if (page) page[0] = 1;
       },
       0x80000001, "", ""},
      {"breakpoint", [] { asm volatile("int3"); }, 0x80000003, "", ""},
      {"delay load by name",
       [] { RaiseDelayLoadFailure("cplib.dll", "CryptoProRevocationProvider", 0); },
       0xC06D007E, "cplib.dll", "CryptoProRevocationProvider"},
      {"delay load by ordinal", [] { RaiseDelayLoadFailure("cplib.dll", nullptr, 42); },
       0xC06D007E, "cplib.dll", ""},
      // Only a failed module load carries names; a missing procedure is just a code.
      {"missing procedure", [] { RaiseDelayLoadFailure("a.dll", "Proc", 0, 0xC06D007F); },
       0xC06D007F, "", ""},
      // Made-up parameters must not fault inside the handler.
      {"bogus information",
       [] {
         ULONG_PTR arguments[1] = {0x10};
         RaiseException(0xC06D007E, 0, 1, arguments);
       },
       0xC06D007E, "", ""},
      {"no information", [] { RaiseException(0xC06D007E, 0, 0, nullptr); }, 0xC06D007E, "", ""},
      {"real missing module by name", [] { LiMissingByName(); }, 0xC06D007E,
       "li_missing_for_tests.dll", "LiMissingByName"},
      {"real missing module by ordinal", [] { LiMissingByOrdinal(); }, 0xC06D007E,
       "li_missing_for_tests.dll", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* head = FrameChainHead();
    // Values the compiler keeps in callee-saved registers across the guard.
    volatile int before = 1234;
    int a = before * 3, b = before + 7, d = before ^ 0x55;
    SehExceptionInfo info;
    bool returned = CallWithSehGuard([](void* raise) { reinterpret_cast<void (*)()>(raise)(); },
                                     reinterpret_cast<void*>(c.raise), &info);
    EXPECT_FALSE(returned);
    EXPECT_EQ(c.code, info.code);
    EXPECT_EQ(c.dll, info.dll);
    EXPECT_EQ(c.proc, info.proc);
    EXPECT_EQ(head, FrameChainHead());
    EXPECT_EQ(3702, a);
    EXPECT_EQ(1241, b);
    EXPECT_EQ(1234 ^ 0x55, d);
  }
}

TEST(SehGuardTest, ManyCaughtExceptionsLeaveTheStackAndChainAsTheyWere) {
  void* head = FrameChainHead();
  uintptr_t frame_before = CalleeFrame();
  for (int i = 0; i < 2000; ++i) {
    SehExceptionInfo info;
    ASSERT_FALSE(CallWithSehGuard(&WriteToNull, nullptr, &info));
    ASSERT_EQ(0xC0000005u, info.code);
  }
  EXPECT_EQ(frame_before, CalleeFrame());
  EXPECT_EQ(head, FrameChainHead());
}

TEST(SehGuardTest, NestedGuardsEachTakeTheirOwnException) {
  SehExceptionInfo outer_info, inner_info;
  bool inner_returned = true;
  int steps = 0;
  auto outer = [&] {
    ++steps;
    auto inner = [&] { RaiseException(0xE0000001, 0, 0, nullptr); };
    inner_returned = CallGuarded(inner, &inner_info);
    ++steps;  // the outer call goes on after the inner guard caught
    RaiseException(0xE0000002, 0, 0, nullptr);
    ++steps;  // never reached
  };
  void* head = FrameChainHead();
  EXPECT_FALSE(CallGuarded(outer, &outer_info));
  EXPECT_FALSE(inner_returned);
  EXPECT_EQ(0xE0000001u, inner_info.code);
  EXPECT_EQ(0xE0000002u, outer_info.code);
  EXPECT_EQ(2, steps);
  EXPECT_EQ(head, FrameChainHead());

  // An inner guard that returns normally leaves the outer one in charge.
  SehExceptionInfo info;
  auto outer2 = [&] {
    auto quiet = [] {};
    EXPECT_TRUE(CallGuarded(quiet, nullptr));
    WriteToNull(nullptr);
  };
  EXPECT_FALSE(CallGuarded(outer2, &info));
  EXPECT_EQ(0xC0000005u, info.code);
}

DWORD WINAPI GuardManyTimes(void* context) {
  auto* caught = static_cast<volatile LONG*>(context);
  for (int i = 0; i < 200; ++i) {
    SehExceptionInfo info;
    if (!CallWithSehGuard(&WriteToNull, nullptr, &info) && info.code == 0xC0000005) {
      InterlockedIncrement(caught);
    }
  }
  return 0;
}

TEST(SehGuardTest, GuardsOnOtherThreadsAreIndependent) {
  volatile LONG caught = 0;
  HANDLE threads[4];
  for (HANDLE& thread : threads) {
    thread = CreateThread(nullptr, 0, &GuardManyTimes, const_cast<LONG*>(&caught), 0, nullptr);
    ASSERT_NE(nullptr, thread);
  }
  WaitForMultipleObjects(4, threads, TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
  EXPECT_EQ(800, caught);
}

}  // namespace
}  // namespace installer
