#include "net/handle_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/command/command_transport.h"
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

// The same table logic serves every module's record type.
template <typename Record>
class HandleTableTest : public ::testing::Test {
 protected:
  void SetUp() override { diag_ = diagCreate(nullptr); }
  void TearDown() override {
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
  HandleTable<Record> table_;
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
  // The single record of a system failure: prefix, then the system's text.
  void expectSemaphoreError() {
    auto seen = messages();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind("Semaphoren Fehler: ", 0), 0u) << seen[0];
    EXPECT_GT(seen[0].size(), std::string("Semaphoren Fehler: ").size());
  }
};

TEST_F(HandleTableFaultTest, MutexThatCannotBeCreatedFailsAttach) {
  faultArm(FaultPoint::MutexCreate, 0);
  EXPECT_FALSE(table_.attach(diag_));
  EXPECT_FALSE(table_.isAttached());
  expectSemaphoreError();
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

}  // namespace
}  // namespace volsten
