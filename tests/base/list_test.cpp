#include "base/list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/heap.h"
#include "sys/memory.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = listCreate(nullptr);
    ASSERT_NE(list_, nullptr);
  }
  void TearDown() override { EXPECT_EQ(listDestroy(list_), 1); }

  void append(std::initializer_list<int*> items) {
    for (int* item : items) ASSERT_EQ(listInsert(list_, LIST_APPEND, item), -1);
  }
  std::vector<int*> walk() {
    std::vector<int*> seen;
    for (void* p = listMove(list_, LIST_FIRST, nullptr); p != nullptr;
         p = listMove(list_, LIST_NEXT, nullptr)) {
      seen.push_back(static_cast<int*>(p));
    }
    return seen;
  }
  std::vector<int*> walkBackwards() {
    std::vector<int*> seen;
    for (void* p = listMove(list_, LIST_LAST, nullptr); p != nullptr;
         p = listMove(list_, LIST_PREVIOUS, nullptr)) {
      seen.push_back(static_cast<int*>(p));
    }
    return seen;
  }
  void* current() { return listMove(list_, LIST_CURRENT, nullptr); }

  testing::FaultGuard faults_;
  KeyedList* list_ = nullptr;
  int a_ = 1, b_ = 2, c_ = 3, d_ = 4;
};

TEST_F(ListTest, NewListIsEmpty) {
  EXPECT_EQ(listMove(list_, LIST_FIRST, nullptr), nullptr);
  EXPECT_EQ(listRemove(list_), 0);
  EXPECT_EQ(list_->count, 0);
  EXPECT_EQ(list_->borrowed, 0);
}

TEST_F(ListTest, AppendedItemsWalkInOrderBothWays) {
  append({&a_, &b_, &c_});
  EXPECT_EQ(walk(), (std::vector<int*>{&a_, &b_, &c_}));
  EXPECT_EQ(listMove(list_, LIST_NEXT, nullptr), nullptr);  // cursor stays null
  EXPECT_EQ(walkBackwards(), (std::vector<int*>{&c_, &b_, &a_}));
  EXPECT_EQ(list_->count, 3);
}

TEST_F(ListTest, InsertFirstKeepsTheCursor) {
  append({&a_, &b_});
  ASSERT_EQ(listMove(list_, LIST_LAST, nullptr), &b_);
  EXPECT_EQ(listInsert(list_, LIST_INSERT_FIRST, &c_), -1);
  EXPECT_EQ(current(), &b_);
  EXPECT_EQ(walk(), (std::vector<int*>{&c_, &a_, &b_}));
  EXPECT_EQ(walkBackwards(), (std::vector<int*>{&b_, &a_, &c_}));
}

TEST_F(ListTest, InsertBeforeAndAfterMoveTheCursorToTheNewNode) {
  append({&a_, &b_});
  listMove(list_, LIST_FIRST, nullptr);
  EXPECT_EQ(listInsert(list_, LIST_INSERT_BEFORE, &c_), -1);
  EXPECT_EQ(current(), &c_);
  listMove(list_, LIST_LAST, nullptr);
  EXPECT_EQ(listInsert(list_, LIST_INSERT_AFTER, &d_), -1);
  EXPECT_EQ(current(), &d_);
  EXPECT_EQ(walk(), (std::vector<int*>{&c_, &a_, &b_, &d_}));
  EXPECT_EQ(walkBackwards(), (std::vector<int*>{&d_, &b_, &a_, &c_}));
}

TEST_F(ListTest, InsertAtCursorFailsWithoutCursorOrWithABadCode) {
  append({&a_});
  listMove(list_, LIST_NEXT, nullptr);  // cursor falls off the end
  EXPECT_EQ(listInsert(list_, LIST_INSERT_BEFORE, &b_), 0);
  EXPECT_EQ(listInsert(list_, LIST_INSERT_AFTER, &b_), 0);
  EXPECT_EQ(listInsert(list_, 11, &b_), 0);
  EXPECT_EQ(listInsert(list_, LIST_FIRST, &b_), 0);
  EXPECT_EQ(list_->count, 1);
  EXPECT_EQ(walk(), (std::vector<int*>{&a_}));
}

TEST_F(ListTest, EmptyListTakesTheFirstItemWhateverTheCode) {
  EXPECT_EQ(listInsert(list_, LIST_INSERT_BEFORE, &a_), -1);
  EXPECT_EQ(current(), &a_);
  EXPECT_EQ(list_->count, 1);
}

TEST_F(ListTest, FindItemComparesPointersOnly) {
  int twin = 2;  // equal value, different object
  append({&a_, &b_, &c_});
  EXPECT_EQ(listMove(list_, LIST_FIND_ITEM, &b_), &b_);
  EXPECT_EQ(listMove(list_, LIST_NEXT, nullptr), &c_);
  EXPECT_EQ(listMove(list_, LIST_FIND_ITEM, &twin), nullptr);
  EXPECT_EQ(current(), nullptr);
}

TEST_F(ListTest, AtPositionCountsFromOne) {
  append({&a_, &b_, &c_});
  struct Case {
    int32_t n;
    int* expected;
  };
  for (Case c : {Case{-5, &a_}, Case{0, &a_}, Case{1, &a_}, Case{2, &b_}, Case{3, &c_}, Case{4, nullptr}}) {
    EXPECT_EQ(listMove(list_, LIST_AT_POSITION, &c.n), c.expected) << "n = " << c.n;
  }
}

TEST_F(ListTest, UnknownMoveCodeLeavesTheCursor) {
  append({&a_, &b_});
  listMove(list_, LIST_LAST, nullptr);
  EXPECT_EQ(listMove(list_, 7, nullptr), nullptr);
  EXPECT_EQ(listMove(list_, -1, nullptr), nullptr);
  EXPECT_EQ(current(), &b_);
}

TEST_F(ListTest, RemoveMovesTheCursorToTheFollowingNode) {
  append({&a_, &b_, &c_});
  listMove(list_, LIST_FIND_ITEM, &b_);
  EXPECT_EQ(listRemove(list_), -1);
  EXPECT_EQ(current(), &c_);
  EXPECT_EQ(listRemove(list_), -1);  // the last node: the cursor becomes null
  EXPECT_EQ(current(), nullptr);
  EXPECT_EQ(listRemove(list_), 0);
  EXPECT_EQ(list_->count, 1);
  EXPECT_EQ(walk(), (std::vector<int*>{&a_}));
  EXPECT_EQ(walkBackwards(), (std::vector<int*>{&a_}));
  listMove(list_, LIST_FIRST, nullptr);
  EXPECT_EQ(listRemove(list_), -1);
  EXPECT_EQ(list_->first, nullptr);
  EXPECT_EQ(list_->last, nullptr);
}

TEST(ListNull, OperationsOnANullList) {
  int x = 0;
  EXPECT_EQ(listDestroy(nullptr), 0);
  EXPECT_EQ(listMove(nullptr, LIST_FIRST, nullptr), nullptr);
  EXPECT_EQ(listInsert(nullptr, LIST_APPEND, &x), 0);
  EXPECT_EQ(listRemove(nullptr), 0);
}

TEST(ListHeaps, BorrowedHeapKeepsItsOtherBlocks) {
  TracedHeap* heap = heapCreate(1024);
  ASSERT_NE(heap, nullptr);
  auto* other = static_cast<char*>(heapAlloc(heap, 32));
  std::memcpy(other, "still here", 11);
  KeyedList* list = listCreate(heap);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->borrowed, 1);
  int items[50];
  for (int& item : items) ASSERT_EQ(listInsert(list, LIST_APPEND, &item), -1);
  EXPECT_EQ(listDestroy(list), -1);
  EXPECT_STREQ(other, "still here");
  EXPECT_EQ(heapBlockOf(other)->flags & HEAP_BLOCK_FREE, 0);
  // Every node and the list went back: the space after `other` is one block.
  void* rest = heapAlloc(heap, heap->capacity - heapBlockOf(other)->size - kHeapGrain);
  EXPECT_EQ(heapBlockOf(rest)->owner, heap);
  heapDestroy(heap);
}

TEST(ListHeaps, OwnHeapGoesWithTheList) {
  long live = sysSegmentsLive();
  KeyedList* list = listCreate(nullptr);
  int items[200];
  for (int& item : items) ASSERT_EQ(listInsert(list, LIST_APPEND, &item), -1);
  EXPECT_GT(sysSegmentsLive(), live + 1);
  EXPECT_EQ(listDestroy(list), 1);
  EXPECT_EQ(sysSegmentsLive(), live);
}

TEST(ListHeaps, ExhaustionIsReportedAsFailure) {
  testing::FaultGuard faults;
  faultArm(FaultPoint::SegmentAlloc, 0);
  EXPECT_EQ(listCreate(nullptr), nullptr);
  faultDisarmAll();
  KeyedList* list = listCreate(nullptr);
  faultArm(FaultPoint::HeapBlock, 0);
  int x = 0;
  EXPECT_EQ(listInsert(list, LIST_APPEND, &x), 0);
  EXPECT_EQ(list->count, 0);
  faultDisarmAll();
  listDestroy(list);
  long live = sysSegmentsLive();
  TracedHeap* heap = heapCreate(64);
  faultArm(FaultPoint::HeapBlock, 0);
  EXPECT_EQ(listCreate(heap), nullptr);  // the caller's heap stays
  faultDisarmAll();
  EXPECT_EQ(sysSegmentsLive(), live + 1);
  heapDestroy(heap);
}

}  // namespace
}  // namespace volsten
