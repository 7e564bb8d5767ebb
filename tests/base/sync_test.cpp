#include "base/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using namespace std::chrono_literals;

TEST(Mutex, OwnedMutexIsRecursiveAndExcludesOtherThreads) {
  MutexHandle m = mutexCreate(1);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(mutexWait(m), 1);  // re-entered by its owner
  std::atomic<bool> entered{false};
  std::thread other([&] {
    mutexWait(m);
    entered = true;
    mutexRelease(m);
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(entered.load());
  EXPECT_NE(mutexRelease(m), 0);
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(entered.load()) << "released once, still held once";
  EXPECT_NE(mutexRelease(m), 0);
  other.join();
  EXPECT_TRUE(entered.load());
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
