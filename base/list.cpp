#include "base/list.h"

#include "base/heap.h"

namespace volsten {
namespace {

constexpr uint32_t kOwnHeapCapacity = 1024;

void linkBefore(KeyedList* list, ListNode* at, ListNode* node) {
  node->next = at;
  node->previous = at->previous;
  if (at->previous != nullptr) {
    at->previous->next = node;
  } else {
    list->first = node;
  }
  at->previous = node;
}

void linkAfter(KeyedList* list, ListNode* at, ListNode* node) {
  node->previous = at;
  node->next = at->next;
  if (at->next != nullptr) {
    at->next->previous = node;
  } else {
    list->last = node;
  }
  at->next = node;
}

ListNode* nodeAt(const KeyedList* list, int32_t position) {
  if (position > list->count) return nullptr;
  ListNode* node = list->first;
  for (int32_t i = 1; i < position && node != nullptr; ++i) node = node->next;
  return node;
}

}  // namespace

KeyedList* listCreate(TracedHeap* heap) {
  TracedHeap* own = nullptr;
  if (heap == nullptr) {
    own = heapCreate(kOwnHeapCapacity);
    if (own == nullptr) return nullptr;
  }
  TracedHeap* used = heap != nullptr ? heap : own;
  auto* list = static_cast<KeyedList*>(heapAlloc(used, sizeof(KeyedList)));
  if (list == nullptr) {
    heapDestroy(own);
    return nullptr;
  }
  *list = KeyedList{used, heap != nullptr ? 1 : 0, 0, nullptr, nullptr, nullptr};
  return list;
}

int listDestroy(KeyedList* list) {
  if (list == nullptr) return 0;
  if (list->borrowed == 0) return heapDestroy(list->heap);
  for (ListNode* node = list->first; node != nullptr;) {
    ListNode* next = node->next;
    heapFree(node);
    node = next;
  }
  heapFree(list);
  return -1;
}

void* listMove(KeyedList* list, int code, const void* key) {
  if (list == nullptr) return nullptr;
  ListNode* cursor = list->cursor;
  switch (code) {
    case LIST_CURRENT:
      break;
    case LIST_FIRST:
      cursor = list->first;
      break;
    case LIST_LAST:
      cursor = list->last;
      break;
    case LIST_NEXT:
      cursor = cursor != nullptr ? cursor->next : nullptr;
      break;
    case LIST_PREVIOUS:
      cursor = cursor != nullptr ? cursor->previous : nullptr;
      break;
    case LIST_FIND_ITEM:
      cursor = list->first;
      while (cursor != nullptr && cursor->item != key) cursor = cursor->next;
      break;
    case LIST_AT_POSITION:
      cursor = key != nullptr ? nodeAt(list, *static_cast<const int32_t*>(key)) : nullptr;
      break;
    default:
      return nullptr;
  }
  list->cursor = cursor;
  return cursor != nullptr ? cursor->item : nullptr;
}

int listInsert(KeyedList* list, int code, void* item) {
  if (list == nullptr) return 0;
  auto* node = static_cast<ListNode*>(heapAlloc(list->heap, sizeof(ListNode)));
  if (node == nullptr) return 0;
  *node = ListNode{nullptr, nullptr, item};
  if (list->first == nullptr) {
    // Whatever the code, the first node becomes first, last and cursor.
    list->first = list->last = list->cursor = node;
    list->count = 1;
    return -1;
  }
  switch (code) {
    case LIST_INSERT_FIRST:
      linkBefore(list, list->first, node);
      break;
    case LIST_APPEND:
      linkAfter(list, list->last, node);
      break;
    case LIST_INSERT_BEFORE:
    case LIST_INSERT_AFTER:
      if (list->cursor == nullptr) {
        heapFree(node);
        return 0;
      }
      if (code == LIST_INSERT_BEFORE) {
        linkBefore(list, list->cursor, node);
      } else {
        linkAfter(list, list->cursor, node);
      }
      list->cursor = node;
      break;
    default:
      heapFree(node);
      return 0;
  }
  ++list->count;
  return -1;
}

int listRemove(KeyedList* list) {
  if (list == nullptr || list->cursor == nullptr) return 0;
  ListNode* node = list->cursor;
  if (node->previous != nullptr) {
    node->previous->next = node->next;
  } else {
    list->first = node->next;
  }
  if (node->next != nullptr) {
    node->next->previous = node->previous;
  } else {
    list->last = node->previous;
  }
  list->cursor = node->next;
  heapFree(node);
  --list->count;
  return -1;
}

}  // namespace volsten
