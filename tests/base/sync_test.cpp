#include "base/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sys/error.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using namespace std::chrono_literals;

// Exclusion shown by lost updates: every critical section reads a plain
// counter, yields, and writes it back one higher, so two threads inside at
// once lose an update. The creating thread's first section is its initial
// ownership; each worker's section re-enters the mutex and writes after one
// of its two releases, while the mutex is still held once.
TEST(Mutex, OwnedRecursiveMutexLetsOneThreadInAtATime) {
  constexpr int kRounds = 2000;
  MutexHandle m = mutexCreate(1);
  ASSERT_NE(m, nullptr);
  int counter = 0;
  std::atomic<int> ready{0};
  auto work = [&] {
    ++ready;
    for (int i = 0; i < kRounds; ++i) {
      mutexWait(m);
      mutexWait(m);
      int seen = counter;
      std::this_thread::yield();
      mutexRelease(m);
      std::this_thread::yield();
      counter = seen + 1;
      mutexRelease(m);
    }
  };
  std::thread a(work), b(work);
  while (ready.load() < 2) std::this_thread::yield();
  int seen = counter;
  for (int i = 0; i < 100; ++i) std::this_thread::yield();
  counter = seen + 1;
  EXPECT_NE(mutexRelease(m), 0);
  a.join();
  b.join();
  EXPECT_EQ(counter, 2 * kRounds + 1);
  EXPECT_NE(mutexClose(m), 0);
}

// A deliberate misuse, which ThreadSanitizer reports as such: its preset
// leaves this test out by name.
TEST(Mutex, ReleaseByAThreadThatDoesNotHoldItFailsWithTheSystemsReason) {
  MutexHandle m = mutexCreate(0);
  ASSERT_NE(m, nullptr);
  sysSetLastError(0);
  EXPECT_EQ(mutexRelease(m), 0);
  EXPECT_NE(sysLastError(), 0u);
  EXPECT_NE(mutexClose(m), 0);
}

TEST(Mutex, CreationFailureGivesNull) {
  testing::FaultGuard faults;
  faultArm(FaultPoint::MutexCreate, 0);
  EXPECT_EQ(mutexCreate(0), nullptr);
}

void setFlag(void* argument) { static_cast<std::atomic<int>*>(argument)->store(42); }

TEST(Thread, StartedThreadRunsTheRoutineWithItsArgument) {
  std::atomic<int> flag{0};
  ASSERT_NE(threadStart(setFlag, 0, &flag), 0);
  for (int i = 0; i < 500 && flag.load() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(flag.load(), 42);
  std::atomic<int> small{0};
  ASSERT_NE(threadStart(setFlag, 64 * 1024, &small), 0);
  for (int i = 0; i < 500 && small.load() == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(small.load(), 42);
}

TEST(Thread, StartFailureGivesZero) {
  testing::FaultGuard faults;
  std::atomic<int> flag{0};
  faultArm(FaultPoint::ThreadStart, 0);
  EXPECT_EQ(threadStart(setFlag, 0, &flag), 0);
  EXPECT_EQ(threadStart(nullptr, 0, &flag), 0);
}

}  // namespace
}  // namespace volsten
