#include "base/diag.h"
#include "base/heap.h"
#include "base/list.h"
#include "base/messages.h"

namespace volsten {

void diagOutOfMemory(DiagContext* context) {
  diagAdd(context, "HY001", 0, SEVERITY_ERROR, kMessages[MSG_NO_MEMORY], nullptr, nullptr);
}

TracedHeap* diagHeapCreate(DiagContext* context, uint32_t capacity) {
  TracedHeap* heap = heapCreate(capacity);
  if (heap == nullptr) diagOutOfMemory(context);
  return heap;
}

int diagHeapDestroy(TracedHeap* heap) { return heapDestroy(heap); }

void* diagAlloc(DiagContext* context, TracedHeap* heap, uint16_t size) {
  void* block = heapAlloc(heap, size);
  if (block == nullptr) diagOutOfMemory(context);
  return block;
}

int diagFreeBlock(void* block) { return heapFree(block); }

KeyedList* diagListCreate(DiagContext* context, TracedHeap* heap) {
  KeyedList* list = listCreate(heap);
  if (list == nullptr) diagOutOfMemory(context);
  return list;
}

int diagListDestroy(KeyedList* list) { return listDestroy(list); }

int diagListAppend(DiagContext* context, KeyedList* list, void* item) {
  if (list == nullptr) return 0;
  if (listInsert(list, LIST_APPEND, item) != 0) return 0;
  diagOutOfMemory(context);
  return -1;
}

}  // namespace volsten
