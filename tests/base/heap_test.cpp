#include "base/heap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/trace.h"
#include "sys/memory.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

constexpr bool k32Bit = sizeof(void*) == 4;

class HeapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    liveBefore_ = sysSegmentsLive();
    heap_ = heapCreate(1024);
    ASSERT_NE(heap_, nullptr);
  }
  void TearDown() override {
    if (heap_ != nullptr) {
      EXPECT_EQ(heapDestroy(heap_), 1);
    }
    EXPECT_EQ(sysSegmentsLive(), liveBefore_) << "a segment was not returned";
  }
  int segmentCount() const {
    int n = 0;
    for (TracedHeap* s = heap_; s != nullptr; s = s->next) ++n;
    return n;
  }

  testing::FaultGuard faults_;
  TracedHeap* heap_ = nullptr;
  long liveBefore_ = 0;
};

TEST_F(HeapTest, GrainIsTheHeaderSizeAlignedForPointers) {
  if (k32Bit) {
    EXPECT_EQ(kHeapGrain, 12u);
    EXPECT_EQ(kHeapSegmentOverhead, 40u);
    EXPECT_EQ(heap_->capacity, 1032u);
  } else {
    EXPECT_EQ(kHeapGrain, 16u);
    EXPECT_EQ(heap_->capacity, 1024u);
  }
  HeapBlock* first = heap_->freeHint;
  EXPECT_EQ(first->flags, HEAP_BLOCK_FREE | HEAP_BLOCK_LAST);
  EXPECT_EQ(first->size, heap_->capacity);
  // 1000 is a multiple of neither grain; both round it up to 1008.
  TracedHeap* odd = heapCreate(1000);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(odd->capacity, 1008u);
  EXPECT_EQ(odd->freeHint->size, 1008u);
  EXPECT_EQ(heapDestroy(odd), 1);
}

struct RoundCase {
  uint32_t request;
  uint32_t payload32;
  uint32_t payload64;
};

class HeapRoundingTest : public HeapTest, public ::testing::WithParamInterface<RoundCase> {};

TEST_P(HeapRoundingTest, RequestsRoundUpToTheGrainAndStayAligned) {
  const RoundCase& c = GetParam();
  void* p = heapAlloc(heap_, c.request);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(heapBlockOf(p)->size, k32Bit ? c.payload32 : c.payload64);
  EXPECT_EQ(heapBlockOf(p)->owner, heap_);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(void*), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeapRoundingTest,
                         ::testing::Values(RoundCase{0, 0, 0}, RoundCase{1, 12, 16},
                                           RoundCase{12, 12, 16}, RoundCase{13, 24, 16},
                                           RoundCase{17, 24, 32}, RoundCase{25, 36, 32}));

TEST_F(HeapTest, RequestLargerThanCapacityAddsASegmentOfThatSize) {
  void* small = heapAlloc(heap_, 8);
  void* big = heapAlloc(heap_, 5000);
  ASSERT_NE(big, nullptr);
  ASSERT_EQ(segmentCount(), 2);
  EXPECT_EQ(heap_->next->capacity, (5000 + kHeapGrain - 1) / kHeapGrain * kHeapGrain);
  EXPECT_EQ(heapBlockOf(big)->owner, heap_->next);
  EXPECT_EQ(heapBlockOf(small)->owner, heap_);
  std::memset(big, 0xAB, 5000);  // the whole request is usable
}

TEST_F(HeapTest, FullSegmentAddsASegmentOfTheSameCapacity) {
  void* whole = heapAlloc(heap_, heap_->capacity);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(segmentCount(), 1);
  void* more = heapAlloc(heap_, 1);
  ASSERT_NE(more, nullptr);
  ASSERT_EQ(segmentCount(), 2);
  EXPECT_EQ(heap_->next->capacity, heap_->capacity);
  EXPECT_EQ(heapBlockOf(more)->owner, heap_->next);
  // A third request still fits in the second segment.
  EXPECT_EQ(heapBlockOf(heapAlloc(heap_, 1))->owner, heap_->next);
  EXPECT_EQ(segmentCount(), 2);
}

TEST_F(HeapTest, FreedNeighboursMergeOnTheNextAllocation) {
  void* a = heapAlloc(heap_, 2 * kHeapGrain);
  void* b = heapAlloc(heap_, 2 * kHeapGrain);
  void* c = heapAlloc(heap_, kHeapGrain);
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(heapFree(a), -1);
  EXPECT_EQ(heapFree(b), -1);
  EXPECT_EQ(heap_->freeHint, heapBlockOf(a));
  // Both payloads and the header between them: only the merged block fits.
  void* merged = heapAlloc(heap_, 4 * kHeapGrain + kHeapGrain);
  EXPECT_EQ(merged, a);
  EXPECT_EQ(heapBlockOf(merged)->size, 5 * kHeapGrain);
  EXPECT_EQ(heapBlockOf(c)->flags & HEAP_BLOCK_FREE, 0);
}

TEST_F(HeapTest, MergeTakesOverTheLastFlag) {
  void* a = heapAlloc(heap_, kHeapGrain);
  heapFree(a);
  // a and the rest of the segment are both free: one block again.
  void* all = heapAlloc(heap_, heap_->capacity);
  EXPECT_EQ(all, a);
  EXPECT_EQ(heapBlockOf(all)->flags, HEAP_BLOCK_LAST);
}

TEST_F(HeapTest, BlockOneGrainLargerSplitsIntoRequestAndEmptyFreeBlock) {
  void* a = heapAlloc(heap_, 2 * kHeapGrain);
  void* guard = heapAlloc(heap_, kHeapGrain);
  ASSERT_TRUE(a && guard);
  heapFree(a);
  void* again = heapAlloc(heap_, kHeapGrain);
  ASSERT_EQ(again, a);
  EXPECT_EQ(heapBlockOf(again)->size, kHeapGrain);
  auto* rest = reinterpret_cast<HeapBlock*>(static_cast<char*>(again) + kHeapGrain);
  EXPECT_EQ(rest->flags, HEAP_BLOCK_FREE);
  EXPECT_EQ(rest->size, 0u);
  EXPECT_EQ(heap_->freeHint, rest);
  // A zero-byte request fits the empty block exactly.
  EXPECT_EQ(heapAlloc(heap_, 0), reinterpret_cast<char*>(rest) + sizeof(HeapBlock));
}

TEST_F(HeapTest, FirstFitReusesTheLowestFreeBlock) {
  std::vector<void*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(heapAlloc(heap_, kHeapGrain));
  heapFree(blocks[4]);
  heapFree(blocks[1]);
  EXPECT_EQ(heap_->freeHint, heapBlockOf(blocks[1]));
  EXPECT_EQ(heapAlloc(heap_, kHeapGrain), blocks[1]);
  EXPECT_EQ(heapAlloc(heap_, kHeapGrain), blocks[4]);
}

TEST_F(HeapTest, FreeBlockPassedOverByALargerRequestStaysReachable) {
  void* a = heapAlloc(heap_, kHeapGrain);
  void* b = heapAlloc(heap_, kHeapGrain);
  ASSERT_TRUE(a && b);
  heapFree(a);
  void* large = heapAlloc(heap_, 2 * kHeapGrain);  // too big for a: split further on
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(heap_->freeHint, heapBlockOf(a));
  EXPECT_EQ(heapAlloc(heap_, kHeapGrain), a);
}

TEST_F(HeapTest, NullArgumentsAndUnownedBlocks) {
  EXPECT_EQ(heapFree(nullptr), 0);
  EXPECT_EQ(heapDestroy(nullptr), 0);
  EXPECT_EQ(heapAlloc(nullptr, 10), nullptr);
  struct {
    HeapBlock header;
    char payload[16];
  } fake{};
  EXPECT_EQ(heapFree(fake.payload), 0);
}

TEST_F(HeapTest, SizesThatOverflowThirtyTwoBitsAreRefused) {
  long live = sysSegmentsLive();
  EXPECT_EQ(heapAlloc(heap_, UINT32_MAX), nullptr);                       // rounding
  EXPECT_EQ(heapAlloc(heap_, UINT32_MAX - 2 * kHeapGrain + 1), nullptr);  // overhead
  EXPECT_EQ(heapCreate(UINT32_MAX - 2 * kHeapGrain + 1), nullptr);
  EXPECT_EQ(sysSegmentsLive(), live);
  EXPECT_EQ(segmentCount(), 1);
  EXPECT_NE(heapAlloc(heap_, 10), nullptr);
}

TEST_F(HeapTest, RefusedSegmentGivesNullAndLeavesTheHeapUsable) {
  ASSERT_NE(heapAlloc(heap_, heap_->capacity), nullptr);
  faultArm(FaultPoint::SegmentAlloc, 0);
  EXPECT_EQ(heapAlloc(heap_, 1), nullptr);
  EXPECT_EQ(heapAlloc(heap_, 5000), nullptr);
  EXPECT_EQ(segmentCount(), 1);
  faultDisarmAll();
  EXPECT_NE(heapAlloc(heap_, 1), nullptr);
  EXPECT_EQ(segmentCount(), 2);
}

TEST(HeapCreate, FailsWhenTheSystemRefusesSegmentOrMutex) {
  testing::FaultGuard faults;
  long live = sysSegmentsLive();
  faultArm(FaultPoint::SegmentAlloc, 0);
  EXPECT_EQ(heapCreate(1024), nullptr);
  faultDisarmAll();
  faultArm(FaultPoint::MutexCreate, 0);
  EXPECT_EQ(heapCreate(1024), nullptr);
  EXPECT_EQ(sysSegmentsLive(), live);
}

TEST_F(HeapTest, DestroyReleasesEverySegment) {
  long live = sysSegmentsLive();
  for (int i = 0; i < 200; ++i) ASSERT_NE(heapAlloc(heap_, 100), nullptr);
  ASSERT_NE(heapAlloc(heap_, 70000), nullptr);
  EXPECT_EQ(sysSegmentsLive(), live + segmentCount() - 1);
  EXPECT_GT(segmentCount(), 10);
  EXPECT_EQ(heapDestroy(heap_), 1);
  heap_ = nullptr;
  EXPECT_EQ(sysSegmentsLive(), live - 1);
}

TEST_F(HeapTest, MutexTheSystemWillNotCloseMakesDestroyFail) {
  MutexHandle mutex = heap_->mutex;
  long live = sysSegmentsLive();
  faultArm(FaultPoint::MutexClose, 0, false);
  EXPECT_EQ(heapDestroy(heap_), 0);
  heap_ = nullptr;
  EXPECT_EQ(sysSegmentsLive(), live - 1);  // the segments went all the same
  EXPECT_NE(mutexClose(mutex), 0);
}

TEST_F(HeapTest, OneHeapServesSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 3000;
  std::atomic<int> corrupt{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &corrupt] {
      struct Held {
        unsigned char* p;
        uint32_t size;
      };
      auto intact = [t](const Held& h) {
        for (uint32_t k = 0; k < h.size; ++k) {
          if (h.p[k] != t + 1) return false;
        }
        return true;
      };
      std::vector<Held> mine;
      for (int i = 0; i < kRounds; ++i) {
        uint32_t size = 1 + static_cast<uint32_t>((i * 7 + t) % 90);
        auto* p = static_cast<unsigned char*>(heapAlloc(heap_, size));
        if (p == nullptr) {
          ++corrupt;
          return;
        }
        std::memset(p, t + 1, size);
        mine.push_back({p, size});
        if (i % 3 == 2) {  // free the oldest, so holes appear everywhere
          if (!intact(mine.front())) ++corrupt;
          heapFree(mine.front().p);
          mine.erase(mine.begin());
        }
      }
      for (const Held& h : mine) {
        if (!intact(h)) ++corrupt;
        heapFree(h.p);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(corrupt.load(), 0);
  // Everything was freed: after merging, the first segment is one block.
  void* all = heapAlloc(heap_, heap_->capacity);
  EXPECT_EQ(heapBlockOf(all)->owner, heap_);
}

struct TraceCapture {
  std::vector<std::string> lines;
  static void sink(const char* line, void* user) {
    static_cast<TraceCapture*>(user)->lines.emplace_back(line);
  }
};

std::string nameOf(const void* p) {
  char name[kPointerNameSize];
  pointerName(p, name);
  return name;
}

TEST(HeapTrace, LinesAreFormattedOnlyWhileTheSwitchIsOn) {
  TraceCapture capture;
  traceSetSink(&TraceCapture::sink, &capture);
  TracedHeap* quiet = heapCreate(100);
  heapFree(heapAlloc(quiet, 5));
  heapDestroy(quiet);
  EXPECT_TRUE(capture.lines.empty());

  traceSetSwitch(1);
  TracedHeap* heap = heapCreate(100);
  void* p = heapAlloc(heap, 5);
  heapFree(p);
  std::string segment = nameOf(heap);
  heapDestroy(heap);
  traceSetSwitch(0);
  traceSetSink(nullptr, nullptr);

  ASSERT_EQ(capture.lines.size(), 4u);
  unsigned long first = 0;
  ASSERT_EQ(std::sscanf(capture.lines[0].c_str(), "CreateHeap:\t%*s\tRequestNumber: %lu", &first),
            1);
  auto number = [&](int i) { return std::to_string(first + static_cast<unsigned long>(i)); };
  EXPECT_EQ(capture.lines[0],
            "CreateHeap:\t" + segment + "\tRequestNumber: " + number(0) + "\tSize: 100");
  EXPECT_EQ(capture.lines[1], "AllocHeap:\t" + segment + "\tSize: 5\tElement: " +
                                  std::to_string(reinterpret_cast<uintptr_t>(p)) +
                                  "\tRequestNumber: " + number(1));
  EXPECT_EQ(capture.lines[2], "FreeHeap:\tElement: " + nameOf(p) + "\tRequestNumber: " + number(2));
  EXPECT_EQ(capture.lines[3], "DestroyHeap:\t" + segment + "\tRequestNumber: " + number(3));
}

// Two sinks, each of which counts the lines that reach it with the other's
// pointer.
int sinkTagA = 0, sinkTagB = 0;
std::atomic<int> mismatchedLines{0};
void sinkA(const char*, void* user) {
  if (user != &sinkTagA) ++mismatchedLines;
}
void sinkB(const char*, void* user) {
  if (user != &sinkTagB) ++mismatchedLines;
}

TEST(HeapTrace, SinkAndItsPointerChangeTogether) {
  constexpr int kLines = 200000;
  std::atomic<int> written{0};
  std::thread writer([&written] {
    for (int i = 0; i < kLines; ++i) {
      traceWrite("line");
      ++written;
    }
  });
  while (written.load() < kLines) {
    traceSetSink(sinkA, &sinkTagA);
    traceSetSink(sinkB, &sinkTagB);
  }
  writer.join();
  traceSetSink(nullptr, nullptr);
  EXPECT_EQ(mismatchedLines.load(), 0);
}

TEST(HeapTrace, PointerNamesAreUpperCaseHexOfThePointerWidth) {
  const void* p = reinterpret_cast<const void*>(static_cast<uintptr_t>(0x1A2BC3F));
  EXPECT_EQ(nameOf(p), k32Bit ? "01A2BC3F" : "0000000001A2BC3F");
}

}  // namespace
}  // namespace volsten
