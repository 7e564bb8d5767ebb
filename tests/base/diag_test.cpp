#include "base/diag.h"

#include <gtest/gtest.h>

#include <string>

#include "base/heap.h"
#include "base/list.h"
#include "base/messages.h"
#include "sys/memory.h"
#include "tests/support/diag_reader.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using testing::recordsOf;
using testing::SeenRecord;

class DiagTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = diagCreate(nullptr);
    ASSERT_NE(context_, nullptr);
  }
  void TearDown() override { EXPECT_EQ(diagFree(context_), 1); }

  testing::FaultGuard faults_;
  DiagContext* context_ = nullptr;
};

TEST_F(DiagTest, FreshContextIsSuccessWithNoRecords) {
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS);
  EXPECT_EQ(context_->records->count, 0);
  EXPECT_EQ(context_->outOfMemory, 0);
}

TEST_F(DiagTest, RecordsKeepTheirFieldsInOrderOfArrival) {
  diagAdd(context_, "01004", 1, SEVERITY_WARNING, "Daten ", nullptr, "abgeschnitten");
  diagAdd(context_, "HY000", -7, SEVERITY_ERROR, "a", "b", "c");
  diagAdd(context_, "08001", 0, SEVERITY_ERROR, nullptr, nullptr, nullptr);
  EXPECT_EQ(recordsOf(context_), (std::vector<SeenRecord>{{1, "01004", 1, "Daten abgeschnitten"},
                                                          {-1, "HY000", -7, "abc"},
                                                          {-1, "08001", 0, ""}}));
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
}

TEST_F(DiagTest, WarningThenErrorThenNoData) {
  diagAdd(context_, "01004", 1, SEVERITY_WARNING, kMessages[MSG_TRUNCATED], nullptr, nullptr);
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS_WITH_INFO);
  diagSetStatus(context_, STATUS_NO_DATA);
  EXPECT_EQ(diagStatus(context_), STATUS_NO_DATA);
  diagAdd(context_, "HY000", 0, SEVERITY_ERROR, "x", nullptr, nullptr);
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
}

struct FlagCase {
  uint8_t flags;
  Status status;
};

class DiagPriorityTest : public DiagTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(DiagPriorityTest, StatusFollowsTheFlagPriority) {
  context_->flags = GetParam().flags;
  EXPECT_EQ(diagStatus(context_), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Flags, DiagPriorityTest,
                         ::testing::Values(FlagCase{0x00, 0}, FlagCase{0x04, 1}, FlagCase{0x0C, 2},
                                           FlagCase{0x1C, 99}, FlagCase{0x30, 100},
                                           FlagCase{0x3C, 100}, FlagCase{0x3E, -1},
                                           FlagCase{0x3F, -2}, FlagCase{0x01, -2},
                                           FlagCase{0x08, 2}, FlagCase{0x40, 0},
                                           FlagCase{0x80, 0}));

TEST_F(DiagTest, SetStatusRaisesOnlyTheNamedFlags) {
  for (int16_t code : {0, 1, 3, -3, 98, 101}) diagSetStatus(context_, code);
  EXPECT_EQ(context_->flags, 0);
  diagSetStatus(context_, 2);
  EXPECT_EQ(diagStatus(context_), STATUS_STILL_EXECUTING);
  diagSetStatus(context_, 99);
  EXPECT_EQ(diagStatus(context_), STATUS_NEED_DATA);
  diagSetStatus(context_, -2);
  EXPECT_EQ(diagStatus(context_), STATUS_INVALID_HANDLE);
  EXPECT_EQ(context_->records->count, 0);
}

TEST_F(DiagTest, OtherSeveritiesChangeNothing) {
  diagAdd(context_, "01004", 1, 0, "x", nullptr, nullptr);
  diagAdd(context_, "01004", 1, 2, "x", nullptr, nullptr);
  diagAdd(context_, "HY001", 0, 2, nullptr, nullptr, nullptr);
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS);
  EXPECT_EQ(context_->records->count, 0);
  EXPECT_EQ(context_->outOfMemory, 0);
}

TEST_F(DiagTest, OutOfMemoryIsStickyAndStoresNothing) {
  diagAdd(context_, "01004", 1, SEVERITY_WARNING, "kept", nullptr, nullptr);
  diagOutOfMemory(context_);
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
  EXPECT_EQ(context_->records->count, 1);  // "HY001" itself is never a record
  diagClear(context_);
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS);
  diagAdd(context_, "01004", 1, SEVERITY_WARNING, "lost", nullptr, nullptr);
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS_WITH_INFO);
  EXPECT_EQ(context_->records->count, 0);
  EXPECT_EQ(context_->outOfMemory, -1);
}

TEST_F(DiagTest, MessagesOverFiveHundredTwelveAreDroppedNotCut) {
  std::string half(256, 'm');
  diagAdd(context_, "HY000", 0, SEVERITY_WARNING, half.c_str(), half.c_str(), nullptr);
  diagAdd(context_, "HY000", 0, SEVERITY_ERROR, half.c_str(), half.c_str(), "!");
  auto seen = recordsOf(context_);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message.size(), 512u);
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
}

TEST_F(DiagTest, ClearEmptiesTheListAndReturnsItsBlocks) {
  for (int i = 0; i < 3; ++i) diagAdd(context_, "HY000", i, SEVERITY_ERROR, "e", nullptr, nullptr);
  diagClear(context_);
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS);
  EXPECT_EQ(context_->records->count, 0);
  EXPECT_EQ(listMove(context_->records, LIST_FIRST, nullptr), nullptr);
  // The freed records are reused: many clear cycles never grow the heap.
  for (int round = 0; round < 100; ++round) {
    for (int i = 0; i < 3; ++i)
      diagAdd(context_, "HY000", i, SEVERITY_ERROR, "e", nullptr, nullptr);
    diagClear(context_);
  }
  EXPECT_EQ(context_->heap->next, nullptr);
}

TEST_F(DiagTest, FailedRecordAllocationKeepsTheFlagSilently) {
  faultArm(FaultPoint::HeapBlock, 0);
  diagAdd(context_, "HY000", 0, SEVERITY_ERROR, "lost", nullptr, nullptr);
  faultArm(FaultPoint::HeapBlock, 1, false);  // the message block fails
  diagAdd(context_, "HY000", 0, SEVERITY_ERROR, "lost", nullptr, nullptr);
  faultArm(FaultPoint::HeapBlock, 2, false);  // the list node fails
  diagAdd(context_, "HY000", 0, SEVERITY_ERROR, "lost", nullptr, nullptr);
  faultDisarmAll();
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
  EXPECT_EQ(context_->records->count, 0);
  EXPECT_EQ(context_->outOfMemory, 0);
  diagAdd(context_, "HY000", 0, SEVERITY_ERROR, "kept", nullptr, nullptr);
  EXPECT_EQ(recordsOf(context_).size(), 1u);
}

struct CreateFault {
  const char* step;
  FaultPoint point;
  int successes;
};

class DiagCreateFaultTest : public DiagTest, public ::testing::WithParamInterface<CreateFault> {};

TEST_P(DiagCreateFaultTest, ExhaustionAtEachStepReportsToTheParentAndLeaksNothing) {
  long live = sysSegmentsLive();
  faultArm(GetParam().point, GetParam().successes);
  EXPECT_EQ(diagCreate(context_), nullptr);
  faultDisarmAll();
  EXPECT_EQ(sysSegmentsLive(), live);
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
  EXPECT_EQ(context_->outOfMemory, -1);
}

INSTANTIATE_TEST_SUITE_P(Steps, DiagCreateFaultTest,
                         ::testing::Values(CreateFault{"heap", FaultPoint::SegmentAlloc, 0},
                                           CreateFault{"mutex", FaultPoint::MutexCreate, 0},
                                           CreateFault{"context", FaultPoint::HeapBlock, 0},
                                           CreateFault{"list", FaultPoint::HeapBlock, 1}),
                         [](const auto& info) { return std::string(info.param.step); });

TEST(DiagCreate, OutOfMemoryLoopSucceedsOnceEveryStepIsAllowed) {
  testing::FaultGuard faults;
  long live = sysSegmentsLive();
  int failures = 0;
  for (int n = 0;; ++n) {
    faultArm(FaultPoint::HeapBlock, n);
    DiagContext* context = diagCreate(nullptr);
    faultDisarmAll();
    if (context != nullptr) {
      EXPECT_EQ(diagFree(context), 1);
      break;
    }
    ++failures;
    ASSERT_LT(n, 10);
  }
  EXPECT_EQ(failures, 2);  // the context and its list
  EXPECT_EQ(sysSegmentsLive(), live);
}

TEST(DiagWrappers, NullContextRecordsNothingAndTheWrappersStillWork) {
  testing::FaultGuard faults;
  EXPECT_EQ(diagFree(nullptr), 0);
  EXPECT_EQ(diagStatus(nullptr), STATUS_SUCCESS);
  diagSetStatus(nullptr, -1);
  diagAdd(nullptr, "HY000", 0, SEVERITY_ERROR, "x", nullptr, nullptr);
  diagClear(nullptr);
  EXPECT_EQ(diagStatus(nullptr), STATUS_SUCCESS);

  TracedHeap* heap = diagHeapCreate(nullptr, 64);
  ASSERT_NE(heap, nullptr);
  KeyedList* list = diagListCreate(nullptr, heap);
  ASSERT_NE(list, nullptr);
  int item = 0;
  EXPECT_EQ(diagListAppend(nullptr, nullptr, &item), 0);
  EXPECT_EQ(diagListAppend(nullptr, list, &item), 0);
  EXPECT_EQ(listMove(list, LIST_FIRST, nullptr), &item);
  void* block = diagAlloc(nullptr, heap, 8);
  EXPECT_NE(block, nullptr);
  // Exhaustion without a context: the same results, nothing to record in.
  faultArm(FaultPoint::HeapBlock, 0);
  EXPECT_EQ(diagAlloc(nullptr, heap, 8), nullptr);
  EXPECT_EQ(diagListAppend(nullptr, list, &item), -1);
  EXPECT_EQ(list->count, 1);
  faultArm(FaultPoint::SegmentAlloc, 0);
  EXPECT_EQ(diagHeapCreate(nullptr, 64), nullptr);
  EXPECT_EQ(diagCreate(nullptr), nullptr);
  faultDisarmAll();
  EXPECT_EQ(diagFreeBlock(block), -1);
  EXPECT_EQ(diagHeapDestroy(heap), 1);
}

TEST_F(DiagTest, WrappersReportExhaustionAsHY001) {
  TracedHeap* heap = diagHeapCreate(context_, 64);
  ASSERT_NE(heap, nullptr);
  KeyedList* list = diagListCreate(context_, heap);
  ASSERT_NE(list, nullptr);
  int item = 0;
  EXPECT_EQ(diagListAppend(context_, list, &item), 0);
  EXPECT_EQ(diagStatus(context_), STATUS_SUCCESS);
  faultArm(FaultPoint::HeapBlock, 0);
  EXPECT_EQ(diagListAppend(context_, list, &item), -1);
  EXPECT_EQ(diagStatus(context_), STATUS_ERROR);
  EXPECT_EQ(context_->outOfMemory, -1);
  EXPECT_EQ(diagAlloc(context_, heap, 8), nullptr);
  EXPECT_EQ(diagListCreate(context_, heap), nullptr);
  faultDisarmAll();
  void* block = diagAlloc(context_, heap, 8);
  EXPECT_EQ(diagFreeBlock(block), -1);
  EXPECT_EQ(diagListDestroy(list), -1);
  EXPECT_EQ(diagHeapDestroy(heap), 1);
}

}  // namespace
}  // namespace volsten
