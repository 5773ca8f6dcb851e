#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace platform {
namespace {

using Policy = WaitableEvent::ResetPolicy;
using State = WaitableEvent::InitialState;

TEST(WaitableEventTest, InitialStateAndResetPolicy) {
  struct Case {
    Policy policy;
    State state;
    bool first_is_set;
    bool second_is_set;  // a manual event stays signalled, an automatic one is consumed
  };
  const Case cases[] = {
      {Policy::kManual, State::kSignaled, true, true},
      {Policy::kManual, State::kNotSignaled, false, false},
      {Policy::kAutomatic, State::kSignaled, true, false},
      {Policy::kAutomatic, State::kNotSignaled, false, false},
  };
  for (const Case& c : cases) {
    WaitableEvent event(c.policy, c.state);
    ASSERT_NE(nullptr, event.handle());
    EXPECT_EQ(c.first_is_set, event.IsSet());
    EXPECT_EQ(c.second_is_set, event.IsSet());
  }
}

TEST(WaitableEventTest, SetAndClear) {
  WaitableEvent manual(Policy::kManual, State::kNotSignaled);
  EXPECT_TRUE(manual.Set());
  EXPECT_TRUE(manual.IsSet());
  EXPECT_TRUE(manual.Wait());
  EXPECT_TRUE(manual.WaitFor(0));
  EXPECT_TRUE(manual.Clear());
  EXPECT_FALSE(manual.IsSet());

  WaitableEvent automatic(Policy::kAutomatic, State::kNotSignaled);
  EXPECT_TRUE(automatic.Set());
  EXPECT_TRUE(automatic.WaitFor(1000));
  EXPECT_FALSE(automatic.WaitFor(0));
}

TEST(WaitableEventTest, WaitForTimesOut) {
  WaitableEvent event(Policy::kManual, State::kNotSignaled);
  EXPECT_FALSE(event.WaitFor(0));
  EXPECT_FALSE(event.WaitFor(20));
}

TEST(WaitableEventTest, SetOnAnotherThreadWakesTheWaiter) {
  WaitableEvent go(Policy::kAutomatic, State::kNotSignaled);
  WaitableEvent done(Policy::kManual, State::kNotSignaled);
  std::thread worker([&] {
    if (go.Wait()) done.Set();
  });
  EXPECT_FALSE(done.WaitFor(10));
  go.Set();
  EXPECT_TRUE(done.WaitFor(10000));
  worker.join();
}

TEST(WaitableEventTest, HandleWorksWithWaitForMultipleObjects) {
  WaitableEvent first(Policy::kManual, State::kNotSignaled);
  WaitableEvent second(Policy::kManual, State::kSignaled);
  HANDLE handles[] = {first.handle(), second.handle()};
  EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(2, handles, FALSE, 0));
}

TEST(CriticalLockTest, KeepsThreadsOutOfEachOther) {
  CriticalLock lock;
  int counter = 0;  // deliberately not atomic: the lock is what protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        AutoLock hold(lock);
        int read = counter;
        if (i % 1000 == 0) Sleep(0);
        counter = read + 1;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(80000, counter);
}

TEST(CriticalLockTest, TryEnterFailsWhileAnotherThreadHoldsIt) {
  CriticalLock lock;
  lock.Enter();
  // The owner may enter again.
  EXPECT_TRUE(lock.TryEnter());
  lock.Leave();
  std::atomic<int> result{-1};
  std::thread other([&] {
    bool entered = lock.TryEnter();
    if (entered) lock.Leave();
    result = entered ? 1 : 0;
  });
  other.join();
  EXPECT_EQ(0, result.load());
  lock.Leave();
  std::thread after([&] {
    bool entered = lock.TryEnter();
    if (entered) lock.Leave();
    result = entered ? 1 : 0;
  });
  after.join();
  EXPECT_EQ(1, result.load());
}

TEST(CriticalLockTest, AutoLockReleasesAtScopeEnd) {
  CriticalLock lock;
  { AutoLock hold(lock); }
  std::atomic<bool> entered{false};
  std::thread other([&] {
    if (lock.TryEnter()) {
      entered = true;
      lock.Leave();
    }
  });
  other.join();
  EXPECT_TRUE(entered.load());
}

}  // namespace
}  // namespace platform
