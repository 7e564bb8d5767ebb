#include "base/heap.h"

#include <cstdint>

#include "base/trace.h"
#include "sys/fault.h"
#include "sys/memory.h"

namespace volsten {
namespace {

// Rounds size up to the grain; false when the result does not fit 32 bits.
bool roundToGrain(uint32_t size, uint32_t* rounded) {
  uint64_t r = (static_cast<uint64_t>(size) + kHeapGrain - 1) / kHeapGrain * kHeapGrain;
  if (r > UINT32_MAX) return false;
  *rounded = static_cast<uint32_t>(r);
  return true;
}

char* payloadOf(HeapBlock* block) { return reinterpret_cast<char*>(block) + sizeof(HeapBlock); }

HeapBlock* nextBlock(HeapBlock* block) {
  return reinterpret_cast<HeapBlock*>(payloadOf(block) + block->size);
}

HeapBlock* firstBlock(TracedHeap* segment) {
  return reinterpret_cast<HeapBlock*>(reinterpret_cast<char*>(segment) + sizeof(TracedHeap));
}

bool isFree(const HeapBlock* block) { return (block->flags & HEAP_BLOCK_FREE) != 0; }
bool isLast(const HeapBlock* block) { return (block->flags & HEAP_BLOCK_LAST) != 0; }

// A new segment of `capacity` bytes (rounded up) sharing `mutex`; null when
// the size overflows 32 bits or the system gives no memory.
TracedHeap* createSegment(uint32_t capacity, MutexHandle mutex) {
  uint32_t rounded;
  if (!roundToGrain(capacity, &rounded)) return nullptr;
  uint64_t total = static_cast<uint64_t>(rounded) + kHeapSegmentOverhead;
  if (total > UINT32_MAX) return nullptr;
  auto* segment = static_cast<TracedHeap*>(sysSegmentAlloc(static_cast<size_t>(total)));
  if (segment == nullptr) return nullptr;
  segment->next = nullptr;
  segment->capacity = rounded;
  segment->mutex = mutex;
  HeapBlock* block = firstBlock(segment);
  block->owner = nullptr;
  block->flags = HEAP_BLOCK_FREE | HEAP_BLOCK_LAST;
  block->size = rounded;
  segment->freeHint = block;
  if (traceEnabled()) {
    char name[kPointerNameSize];
    pointerName(segment, name);
    traceFormat("CreateHeap:\t%s\tRequestNumber: %lu\tSize: %lu", name,
                static_cast<unsigned long>(traceNextRequest()),
                static_cast<unsigned long>(capacity));
  }
  return segment;
}

// Joins runs of free blocks from the free hint on and moves the hint to the
// first free block (or to the last block when none is free).
void mergeFreeBlocks(TracedHeap* segment) {
  HeapBlock* firstFree = nullptr;
  HeapBlock* block = segment->freeHint;
  for (;;) {
    if (isFree(block)) {
      if (firstFree == nullptr) firstFree = block;
      while (!isLast(block)) {
        HeapBlock* neighbour = nextBlock(block);
        if (!isFree(neighbour)) break;
        block->size += neighbour->size + kHeapGrain;
        block->flags = neighbour->flags;
      }
    }
    if (isLast(block)) break;
    block = nextBlock(block);
  }
  segment->freeHint = firstFree != nullptr ? firstFree : block;
}

// First fit from the free hint; splits off the rest of a larger block. The
// hint moves to that rest only when no smaller free block was passed over on
// the way, so that no free block ever lies before the hint.
void* takeBlock(TracedHeap* segment, uint32_t need, uint32_t requested) {
  bool passedFree = false;
  for (HeapBlock* block = segment->freeHint;; block = nextBlock(block)) {
    if (isFree(block) && block->size < need) passedFree = true;
    if (isFree(block) && block->size >= need) {
      if (block->size > need) {
        auto* rest = reinterpret_cast<HeapBlock*>(payloadOf(block) + need);
        rest->owner = nullptr;
        rest->flags = block->flags;
        rest->size = block->size - need - kHeapGrain;
        block->flags &= static_cast<uint16_t>(~HEAP_BLOCK_LAST);
        block->size = need;
        if (!passedFree) segment->freeHint = rest;
      }
      block->flags &= static_cast<uint16_t>(~HEAP_BLOCK_FREE);
      block->owner = segment;
      if (traceEnabled()) {
        char name[kPointerNameSize];
        pointerName(segment, name);
        traceFormat("AllocHeap:\t%s\tSize: %lu\tElement: %llu\tRequestNumber: %lu", name,
                    static_cast<unsigned long>(requested),
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(payloadOf(block))),
                    static_cast<unsigned long>(traceNextRequest()));
      }
      return payloadOf(block);
    }
    if (isLast(block)) return nullptr;
  }
}

TracedHeap* lastSegment(TracedHeap* segment) {
  while (segment->next != nullptr) segment = segment->next;
  return segment;
}

}  // namespace

TracedHeap* heapCreate(uint32_t capacity) {
  MutexHandle mutex = mutexCreate(1);
  if (mutex == nullptr) return nullptr;
  TracedHeap* heap = createSegment(capacity, mutex);
  if (heap == nullptr) {
    mutexRelease(mutex);
    mutexClose(mutex);
    return nullptr;
  }
  mutexRelease(mutex);
  return heap;
}

void* heapAlloc(TracedHeap* heap, uint32_t size) {
  if (heap == nullptr) return nullptr;
  uint32_t need;
  if (!roundToGrain(size, &need) || faultShouldFail(FaultPoint::HeapBlock)) return nullptr;
  MutexHandle mutex = heap->mutex;
  mutexWait(mutex);
  void* result = nullptr;
  // Walks the chain segment by segment; each new segment is linked last.
  for (TracedHeap* segment = heap; segment != nullptr; segment = segment->next) {
    if (segment->capacity < size) {
      // Too large for this segment: a segment of its own, at the end.
      TracedHeap* fresh = createSegment(size, mutex);
      if (fresh != nullptr) {
        lastSegment(segment)->next = fresh;
        result = takeBlock(fresh, need, size);
      }
      break;
    }
    mergeFreeBlocks(segment);
    result = takeBlock(segment, need, size);
    if (result != nullptr) break;
    if (segment->next == nullptr) {
      // Every segment is full: add one like this one.
      TracedHeap* fresh = createSegment(segment->capacity, mutex);
      if (fresh == nullptr) break;
      segment->next = fresh;
    }
  }
  mutexRelease(mutex);
  return result;
}

int heapFree(void* payload) {
  if (payload == nullptr) return 0;
  HeapBlock* block = heapBlockOf(payload);
  TracedHeap* owner = block->owner;
  if (owner == nullptr) return 0;
  mutexWait(owner->mutex);
  block->flags |= HEAP_BLOCK_FREE;
  if (block < owner->freeHint) owner->freeHint = block;
  if (traceEnabled()) {
    char name[kPointerNameSize];
    pointerName(payload, name);
    traceFormat("FreeHeap:\tElement: %s\tRequestNumber: %lu", name,
                static_cast<unsigned long>(traceNextRequest()));
  }
  mutexRelease(owner->mutex);
  return -1;
}

int heapDestroy(TracedHeap* heap) {
  if (heap == nullptr) return 0;
  MutexHandle mutex = heap->mutex;
  mutexWait(mutex);
  for (TracedHeap* segment = heap; segment != nullptr;) {
    TracedHeap* next = segment->next;
    if (traceEnabled()) {
      char name[kPointerNameSize];
      pointerName(segment, name);
      traceFormat("DestroyHeap:\t%s\tRequestNumber: %lu", name,
                  static_cast<unsigned long>(traceNextRequest()));
    }
    sysSegmentFree(segment);
    segment = next;
  }
  mutexRelease(mutex);
  // The segments are gone either way; a mutex the system would not close is
  // still reported, so that a leak of handles does not pass unseen.
  return mutexClose(mutex) != 0 ? 1 : 0;
}

}  // namespace volsten
