// Diagnostics contexts: SQL/CLI-style records (SQLSTATE, native code,
// message) collected by the operation that failed, and a status code derived
// from the context's flags. Every operation accepts a null context and then
// records nothing.
#pragma once

#include <cstdint>

namespace volsten {

struct TracedHeap;
struct KeyedList;

// SQL/CLI return codes.
using Status = int16_t;
constexpr Status STATUS_SUCCESS = 0;
constexpr Status STATUS_SUCCESS_WITH_INFO = 1;
constexpr Status STATUS_STILL_EXECUTING = 2;
constexpr Status STATUS_NEED_DATA = 99;
constexpr Status STATUS_NO_DATA = 100;
constexpr Status STATUS_ERROR = -1;
constexpr Status STATUS_INVALID_HANDLE = -2;

constexpr int16_t SEVERITY_ERROR = -1;
constexpr int16_t SEVERITY_WARNING = 1;

// Context flags; raised by reports, cleared only by diagClear.
constexpr uint8_t DIAG_INVALID_HANDLE = 0x01;
constexpr uint8_t DIAG_ERROR = 0x02;
constexpr uint8_t DIAG_WITH_INFO = 0x04;
constexpr uint8_t DIAG_STILL_EXECUTING = 0x08;
constexpr uint8_t DIAG_NEED_DATA = 0x10;
constexpr uint8_t DIAG_NO_DATA = 0x20;

// Messages longer than this are dropped, not cut.
constexpr int32_t kDiagMessageMax = 512;

struct DiagRecord {
  int16_t severity;  // SEVERITY_ERROR or SEVERITY_WARNING
  char state[6];     // five characters and a NUL
  int32_t native;
  char* message;  // NUL-terminated, on the context's heap
  uint8_t flag;   // 0, not otherwise used
};

struct DiagContext {
  TracedHeap* heap;     // holds the context, its list, records and messages
  KeyedList* records;   // DiagRecord pointers in order of arrival
  int32_t outOfMemory;  // -1 once "HY001" was reported; never reset
  uint8_t flags;
};

// A new context on a heap of its own, or null ("HY001" then went to parent).
DiagContext* diagCreate(DiagContext* parent);
// 1 when the context's heap was destroyed, 0 for null.
int diagFree(DiagContext* context);
Status diagStatus(const DiagContext* context);
// Raises the flag of -2, -1, 2, 99 or 100; other codes change nothing.
void diagSetStatus(DiagContext* context, int16_t code);
void diagAdd(DiagContext* context, const char* state, int32_t native, int16_t severity,
             const char* text1, const char* text2, const char* text3);
void diagClear(DiagContext* context);
// Adds a copy of every record of from to context, in order, as diagAdd
// would; nothing for a null context on either side.
void diagAddRecords(DiagContext* context, const DiagContext* from);

// Allocation wrappers: the heap and list operations, reporting "HY001" to
// context when they come back empty.
TracedHeap* diagHeapCreate(DiagContext* context, uint32_t capacity);
int diagHeapDestroy(TracedHeap* heap);
// The size is 16-bit: callers bound their requests below 65536 bytes.
void* diagAlloc(DiagContext* context, TracedHeap* heap, uint16_t size);
int diagFreeBlock(void* block);
KeyedList* diagListCreate(DiagContext* context, TracedHeap* heap);
int diagListDestroy(KeyedList* list);
// 0 when appended or when list is null; -1 after reporting "HY001".
int diagListAppend(DiagContext* context, KeyedList* list, void* item);

// Reports memory exhaustion: "HY001", native 0, error, catalogue text 45.
void diagOutOfMemory(DiagContext* context);

}  // namespace volsten
