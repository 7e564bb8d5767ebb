// KeyedList: the runtime's one container, a doubly linked list of opaque
// item pointers with a built-in cursor, living on a TracedHeap. Movement and
// insertion are driven by numeric operation codes.
#pragma once

#include <cstdint>

namespace volsten {

struct TracedHeap;

struct ListNode {
  ListNode* previous;  // towards first; null for the first node
  ListNode* next;      // towards last; null for the last node
  void* item;          // the caller's pointer, never copied or freed
};

struct KeyedList {
  TracedHeap* heap;  // holds the list and its nodes
  int32_t borrowed;  // 1: the caller's heap; 0: the list's own heap
  int32_t count;
  ListNode* first;
  ListNode* last;
  ListNode* cursor;
};

// listMove codes.
constexpr int LIST_CURRENT = 0;
constexpr int LIST_FIRST = 1;
constexpr int LIST_LAST = 2;
constexpr int LIST_NEXT = 3;
constexpr int LIST_PREVIOUS = 4;
constexpr int LIST_FIND_ITEM = 5;    // key: the item pointer to find
constexpr int LIST_AT_POSITION = 6;  // key: pointer to an int32_t, counted from 1
// listInsert codes.
constexpr int LIST_INSERT_FIRST = 7;
constexpr int LIST_APPEND = 8;
constexpr int LIST_INSERT_BEFORE = 9;  // before the cursor; cursor = new node
constexpr int LIST_INSERT_AFTER = 10;  // after the cursor; cursor = new node

// A new list on heap, or on a heap of its own (capacity 1024) when heap is
// null; null on failure.
KeyedList* listCreate(TracedHeap* heap);

// 0 for null; 1 (heapDestroy) for a list with its own heap; -1 otherwise,
// after freeing every node and the list block.
int listDestroy(KeyedList* list);

// The item of the cursor node after the move, or null. A code outside 0-6
// leaves the cursor unchanged and gives null.
void* listMove(KeyedList* list, int code, const void* key);

// -1 when inserted, 0 when not (null list, no memory, bad code, or code 9/10
// on a non-empty list without cursor).
int listInsert(KeyedList* list, int code, void* item);

// Unlinks and frees the cursor node; the cursor moves to the node after it.
// -1 when removed, 0 for a null list or cursor. The item is not touched.
int listRemove(KeyedList* list);

}  // namespace volsten
