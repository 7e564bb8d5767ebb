// Traced heaps: per-object heaps made of fixed segments, carved into blocks
// by a first-fit allocator that merges free neighbours lazily. Everything an
// object owns lives on its heap and goes at once with heapDestroy. One
// recursive mutex per heap makes it usable from several threads.
#pragma once

#include <cstdint>

#include "base/sync.h"

namespace volsten {

struct TracedHeap;

// Precedes every payload. The payload starts right after it and the next
// block right after the payload.
struct HeapBlock {
  TracedHeap* owner;  // segment that handed the block out; null before that
  uint16_t flags;     // HEAP_BLOCK_FREE | HEAP_BLOCK_LAST
  uint32_t size;      // payload bytes, a multiple of kHeapGrain
};

constexpr uint16_t HEAP_BLOCK_FREE = 0x1;
constexpr uint16_t HEAP_BLOCK_LAST = 0x2;

// One segment; a heap is handled through its first segment. All segments of
// a heap share its mutex. The block area follows this record directly.
struct TracedHeap {
  TracedHeap* next;     // next segment of the heap, null for the last
  uint32_t capacity;    // payload of the segment's single block when new
  MutexHandle mutex;    // the heap's mutex, the same in every segment
  HeapBlock* freeHint;  // no free block of this segment lies before it
};

// Sizes are rounded up to the grain: the block header size rounded up to
// pointer alignment, so that header and payload sizes keep every payload
// aligned. It is 12 on 32-bit targets and 16 on 64-bit ones.
constexpr uint32_t kHeapGrain =
    (sizeof(HeapBlock) + alignof(void*) - 1) / alignof(void*) * alignof(void*);
static_assert(sizeof(HeapBlock) == kHeapGrain, "a block header is exactly one grain");
static_assert(sizeof(TracedHeap) % alignof(void*) == 0, "segment record keeps alignment");

// A segment's system block: the segment record, the first block header, one
// spare grain, and the capacity (40 bytes of overhead on 32-bit targets).
constexpr uint32_t kHeapSegmentOverhead = sizeof(TracedHeap) + sizeof(HeapBlock) + kHeapGrain;

// A new heap with one segment of capacity bytes (rounded up to the grain);
// null when the system gives no memory or no mutex.
TracedHeap* heapCreate(uint32_t capacity);

// A block of at least size bytes, uncleared; null when the system refuses a
// segment, or when the rounded size or its segment would not fit in 32 bits.
void* heapAlloc(TracedHeap* heap, uint32_t size);

// -1 when freed; 0 for a null address or a block that was never handed out.
// Freeing an address no heapAlloc gave, or freeing twice, is not detected.
int heapFree(void* payload);

// 1 when the heap, every segment and the mutex were released; 0 for null,
// and 0 when the system refused to close the mutex (the segments are
// released all the same).
int heapDestroy(TracedHeap* heap);

// The header in front of a payload handed out by heapAlloc.
inline HeapBlock* heapBlockOf(void* payload) {
  return reinterpret_cast<HeapBlock*>(static_cast<char*>(payload) - sizeof(HeapBlock));
}

}  // namespace volsten
