#include "net/handle_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/command/command_transport.h"
#include "sys/error.h"
#include "sys/fault.h"
#include "tests/support/diag_reader.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using testing::recordsOf;

const std::string kOrder = "Ung\xfcltige Funktionsreihenfolge";
const std::string kInvalid = "Ung\xfcltiges Handle";
const std::string kWrongType = "Ung\xfcltiger Handle Typ";
const std::string kFull = "Keine freien Handles mehr verf\xfcgbar";

struct WideRecord {
  uint8_t type;
  uint16_t parent;
  double value;
  char text[37];
};

// Tables live as long as the process, as the modules' own tables do: each
// test leaves its table detached and the next one starts from there.
template <typename Record>
HandleTable<Record>& processTable() {
  static HandleTable<Record> table;
  return table;
}

// The same table logic serves every module's record type.
template <typename Record>
class HandleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { diag_ = diagCreate(nullptr); }
  void TearDown() override {
    faultDisarmAll();
    while (table_.isAttached()) table_.detach(nullptr);
    diagFree(diag_);
  }

  std::vector<std::string> messages() {
    std::vector<std::string> seen;
    for (const auto& r : recordsOf(diag_)) {
      EXPECT_EQ(r.state, "HY000");
      EXPECT_EQ(r.native, 0);
      EXPECT_EQ(r.severity, SEVERITY_ERROR);
      seen.push_back(r.message);
    }
    diagClear(diag_);
    return seen;
  }

  void allocateAll() {
    for (int32_t h = 1; h <= kHandleCount; ++h) ASSERT_EQ(table_.allocate(diag_), h);
  }

  static bool allZero(const Record& record) {
    auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) {
      if (bytes[i] != 0) return false;
    }
    return true;
  }

  testing::FaultGuard faults_;
  DiagContext* diag_ = nullptr;
  HandleTable<Record>& table_ = processTable<Record>();
};

using RecordTypes = ::testing::Types<WideRecord, CommandRecord>;
TYPED_TEST_SUITE(HandleTableTest, RecordTypes);

TYPED_TEST(HandleTableTest, EveryOperationBeforeAttachIsOutOfOrder) {
  auto& t = this->table_;
  EXPECT_FALSE(t.isAttached());
  EXPECT_TRUE(t.detach(this->diag_));
  EXPECT_TRUE(this->messages().empty());

  EXPECT_FALSE(t.validate(this->diag_, 1));
  EXPECT_EQ(t.lookup(this->diag_, 1), nullptr);
  EXPECT_EQ(t.allocate(this->diag_), 0);
  EXPECT_FALSE(t.release(this->diag_, 1));
  EXPECT_EQ(this->messages(), (std::vector<std::string>(4, kOrder)));

  EXPECT_FALSE(t.checkType(this->diag_, 1, HANDLE_CONNECTION));
  EXPECT_EQ(this->messages(), (std::vector<std::string>{kOrder, kInvalid}));
}

TYPED_TEST(HandleTableTest, HandlesOutsideOneToFiveHundredAreInvalid) {
  auto& t = this->table_;
  ASSERT_TRUE(t.attach(this->diag_));
  this->allocateAll();
  for (int32_t h : {0, -1, 501}) {
    EXPECT_FALSE(t.validate(this->diag_, h));
    EXPECT_EQ(t.lookup(this->diag_, h), nullptr);
    EXPECT_FALSE(t.release(this->diag_, h));
    EXPECT_EQ(this->messages(), (std::vector<std::string>(3, kInvalid))) << h;
  }
  EXPECT_TRUE(t.validate(this->diag_, 500));
  EXPECT_NE(t.lookup(this->diag_, 500), nullptr);
  EXPECT_TRUE(this->messages().empty());
}

TYPED_TEST(HandleTableTest, FiveHundredHandlesInOrderThenNoneLeft) {
  auto& t = this->table_;
  ASSERT_TRUE(t.attach(this->diag_));
  this->allocateAll();
  EXPECT_TRUE(this->messages().empty());
  EXPECT_EQ(t.allocate(this->diag_), 0);
  EXPECT_EQ(this->messages(), (std::vector<std::string>{kFull}));
}

TYPED_TEST(HandleTableTest, ReleasedHandleIsReusedFirstWithAZeroRecord) {
  auto& t = this->table_;
  ASSERT_TRUE(t.attach(this->diag_));
  for (int32_t h = 1; h <= 10; ++h) {
    ASSERT_EQ(t.allocate(this->diag_), h);
    auto* record = t.lookup(this->diag_, h);
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(this->allZero(*record));
    std::memset(static_cast<void*>(record), 0xA5, sizeof *record);
  }
  EXPECT_TRUE(t.release(this->diag_, 7));
  EXPECT_FALSE(t.validate(this->diag_, 7));
  EXPECT_FALSE(t.release(this->diag_, 7));
  EXPECT_TRUE(this->messages().empty());  // a free slot in range records nothing

  ASSERT_EQ(t.allocate(this->diag_), 7);
  EXPECT_TRUE(this->allZero(*t.lookup(this->diag_, 7)));
  EXPECT_EQ(t.allocate(this->diag_), 11);
}

TYPED_TEST(HandleTableTest, CheckTypeReportsInExactSequence) {
  auto& t = this->table_;
  ASSERT_TRUE(t.attach(this->diag_));
  int32_t h = t.allocate(this->diag_);
  t.lookup(this->diag_, h)->type = HANDLE_ENVIRONMENT;

  EXPECT_TRUE(t.checkType(this->diag_, h, HANDLE_ENVIRONMENT));
  EXPECT_TRUE(this->messages().empty());
  EXPECT_FALSE(t.checkType(this->diag_, h, HANDLE_CONNECTION));
  EXPECT_EQ(this->messages(), (std::vector<std::string>{kWrongType}));
  EXPECT_FALSE(t.checkType(this->diag_, h + 1, HANDLE_ENVIRONMENT));
  EXPECT_EQ(this->messages(), (std::vector<std::string>{kInvalid}));
  EXPECT_FALSE(t.checkType(this->diag_, 0, HANDLE_ENVIRONMENT));
  EXPECT_EQ(this->messages(), (std::vector<std::string>{kInvalid, kInvalid}));
}

TYPED_TEST(HandleTableTest, TableLivesWhileAnAttachmentIsOutstanding) {
  auto& t = this->table_;
  ASSERT_TRUE(t.attach(this->diag_));
  ASSERT_TRUE(t.attach(this->diag_));
  int32_t h = t.allocate(this->diag_);
  EXPECT_TRUE(t.detach(this->diag_));
  EXPECT_TRUE(t.isAttached());
  EXPECT_TRUE(t.validate(this->diag_, h));
  EXPECT_TRUE(t.detach(this->diag_));
  EXPECT_FALSE(t.isAttached());
  EXPECT_EQ(t.lookup(this->diag_, h), nullptr);
  EXPECT_EQ(this->messages(), (std::vector<std::string>{kOrder}));

  // A new table starts empty: no handle survives into it.
  ASSERT_TRUE(t.attach(this->diag_));
  EXPECT_FALSE(t.validate(this->diag_, h));
  EXPECT_EQ(t.allocate(this->diag_), 1);
}

TYPED_TEST(HandleTableTest, NullContextBehavesTheSame) {
  auto& t = this->table_;
  EXPECT_EQ(t.allocate(nullptr), 0);
  ASSERT_TRUE(t.attach(nullptr));
  EXPECT_EQ(t.allocate(nullptr), 1);
  EXPECT_FALSE(t.checkType(nullptr, 0, HANDLE_ENVIRONMENT));
  EXPECT_TRUE(t.release(nullptr, 1));
}

class HandleTableFaultTest : public HandleTableTest<WideRecord> {
 protected:
  // The single record of a system failure: the prefix, then the system's
  // text for the error an injected fault leaves.
  void expectSemaphoreError() {
    char text[256];
    sysErrorText(sysOutOfMemoryCode(), text, 255);
    EXPECT_EQ(messages(), (std::vector<std::string>{std::string("Semaphoren Fehler: ") + text}));
  }
};

TEST_F(HandleTableFaultTest, MutexThatCannotBeCreatedFailsAttachUntilItCanBe) {
  // A table of this test's own: the shared ones made their mutex long ago.
  static HandleTable<WideRecord> fresh;
  faultArm(FaultPoint::MutexCreate, 0);
  EXPECT_FALSE(fresh.attach(diag_));
  EXPECT_FALSE(fresh.isAttached());
  expectSemaphoreError();
  faultDisarmAll();
  ASSERT_TRUE(fresh.attach(diag_));
  EXPECT_EQ(fresh.allocate(diag_), 1);
  EXPECT_TRUE(fresh.detach(diag_));
  EXPECT_FALSE(fresh.isAttached());
  EXPECT_TRUE(messages().empty());
}

TEST_F(HandleTableFaultTest, BlockThatCannotBeAllocatedFailsAttachUntilMemoryReturns) {
  faultArm(FaultPoint::GeneralAlloc, 0, false);
  EXPECT_FALSE(table_.attach(diag_));
  EXPECT_FALSE(table_.isAttached());
  EXPECT_EQ(messages(),
            (std::vector<std::string>{"Shared Memory Fehler: Nicht genug Speicher vorhanden"}));
  ASSERT_TRUE(table_.attach(diag_));
  EXPECT_EQ(table_.allocate(diag_), 1);
  EXPECT_TRUE(table_.detach(diag_));
  EXPECT_FALSE(table_.isAttached());  // the failed attach was not counted
}

TEST_F(HandleTableFaultTest, FailedLockRefusesAllocateAndRelease) {
  ASSERT_TRUE(table_.attach(diag_));
  int32_t h = table_.allocate(diag_);
  faultArm(FaultPoint::MutexLock, 0);
  EXPECT_EQ(table_.allocate(diag_), 0);
  expectSemaphoreError();
  EXPECT_FALSE(table_.release(diag_, h));
  expectSemaphoreError();
  EXPECT_TRUE(table_.validate(diag_, h));
  EXPECT_TRUE(table_.detach(diag_));  // cannot lock: stays attached, but says true
  expectSemaphoreError();
  EXPECT_TRUE(table_.isAttached());
  faultDisarmAll();
  EXPECT_TRUE(table_.detach(diag_));
  EXPECT_FALSE(table_.isAttached());
}

TEST_F(HandleTableFaultTest, FailedSecondAttachKeepsTheFirstUsersHandles) {
  ASSERT_TRUE(table_.attach(diag_));
  int32_t h = table_.allocate(diag_);
  faultArm(FaultPoint::MutexLock, 0, false);
  EXPECT_FALSE(table_.attach(diag_));
  expectSemaphoreError();
  EXPECT_TRUE(table_.isAttached());
  EXPECT_TRUE(table_.validate(diag_, h));
  EXPECT_TRUE(table_.detach(diag_));  // the one counted attachment
  EXPECT_FALSE(table_.isAttached());
}

// Modules attach, allocate, release and detach from several threads at once
// (listeners, service threads, the dispatcher's callers). Each thread marks
// its record and checks that no other thread's cycle disturbs it; the last
// detach of each round frees the block while other threads attach anew.
TEST(HandleTableThreads, ConcurrentCyclesNeitherHangNorShareSlots) {
  static HandleTable<WideRecord> table;
  constexpr int kThreads = 4;
  constexpr int kCycles = 2000;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= kThreads; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < kCycles; ++i) {
        if (!table.attach(nullptr)) {
          ++failures;
          continue;
        }
        int32_t h = table.allocate(nullptr);
        WideRecord* record = table.lookup(nullptr, h);
        if (record == nullptr || record->type != 0 || record->parent != 0) {
          ++failures;
        } else {
          record->type = HANDLE_CONNECTION;
          record->parent = static_cast<uint16_t>(t);
          std::this_thread::yield();
          if (!table.checkType(nullptr, h, HANDLE_CONNECTION) || record->parent != t) ++failures;
          if (!table.release(nullptr, h)) ++failures;
        }
        table.detach(nullptr);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_FALSE(table.isAttached());
}

}  // namespace
}  // namespace volsten
