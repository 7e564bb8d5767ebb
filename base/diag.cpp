#include "base/diag.h"

#include <cstring>
#include <initializer_list>

#include "base/heap.h"
#include "base/list.h"

namespace volsten {
namespace {

constexpr uint32_t kContextHeapCapacity = 1024;

// Message parts may each be longer than 2 GiB: they are measured and added
// in size_t, never in 32 bits.
size_t textLength(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

char* appendText(char* at, const char* text) {
  if (text == nullptr) return at;
  size_t n = std::strlen(text);
  std::memcpy(at, text, n);
  return at + n;
}

}  // namespace

DiagContext* diagCreate(DiagContext* parent) {
  TracedHeap* heap = diagHeapCreate(parent, kContextHeapCapacity);
  if (heap == nullptr) return nullptr;
  auto* context = static_cast<DiagContext*>(diagAlloc(parent, heap, sizeof(DiagContext)));
  if (context == nullptr) {
    heapDestroy(heap);
    return nullptr;
  }
  *context = DiagContext{heap, nullptr, 0, 0};
  context->records = diagListCreate(parent, heap);
  if (context->records == nullptr) {
    heapDestroy(heap);
    return nullptr;
  }
  return context;
}

int diagFree(DiagContext* context) {
  if (context == nullptr) return 0;
  // The context itself lives on this heap: it goes with everything else.
  return heapDestroy(context->heap) != 0 ? 1 : 0;
}

Status diagStatus(const DiagContext* context) {
  if (context == nullptr) return STATUS_SUCCESS;
  uint8_t f = context->flags;
  if (f & DIAG_INVALID_HANDLE) return STATUS_INVALID_HANDLE;
  if (f & DIAG_ERROR) return STATUS_ERROR;
  if (f & DIAG_NO_DATA) return STATUS_NO_DATA;
  if (f & DIAG_NEED_DATA) return STATUS_NEED_DATA;
  if (f & DIAG_STILL_EXECUTING) return STATUS_STILL_EXECUTING;
  if (f & DIAG_WITH_INFO) return STATUS_SUCCESS_WITH_INFO;
  return STATUS_SUCCESS;
}

void diagSetStatus(DiagContext* context, int16_t code) {
  if (context == nullptr) return;
  switch (code) {
    case STATUS_INVALID_HANDLE: context->flags |= DIAG_INVALID_HANDLE; break;
    case STATUS_ERROR: context->flags |= DIAG_ERROR; break;
    case STATUS_STILL_EXECUTING: context->flags |= DIAG_STILL_EXECUTING; break;
    case STATUS_NEED_DATA: context->flags |= DIAG_NEED_DATA; break;
    case STATUS_NO_DATA: context->flags |= DIAG_NO_DATA; break;
    default: break;
  }
}

void diagAdd(DiagContext* context, const char* state, int32_t native, int16_t severity,
             const char* text1, const char* text2, const char* text3) {
  if (context == nullptr) return;
  if (severity == SEVERITY_ERROR) {
    context->flags |= DIAG_ERROR;
  } else if (severity == SEVERITY_WARNING) {
    context->flags |= DIAG_WITH_INFO;
  } else {
    return;
  }
  // The flag above is raised even when no record follows, so the status
  // always reflects the report.
  if (state != nullptr && std::strcmp(state, "HY001") == 0) {
    context->outOfMemory = -1;
    return;
  }
  if (context->outOfMemory == -1) return;
  size_t length = textLength(text1);
  for (const char* text : {text2, text3}) {
    if (length > static_cast<size_t>(kDiagMessageMax)) return;
    length += textLength(text);
  }
  if (length > static_cast<size_t>(kDiagMessageMax)) return;

  auto* record = static_cast<DiagRecord*>(heapAlloc(context->heap, sizeof(DiagRecord)));
  if (record == nullptr) return;
  auto* message = static_cast<char*>(heapAlloc(context->heap, static_cast<uint16_t>(length + 1)));
  if (message == nullptr) {
    heapFree(record);
    return;
  }
  char* end = appendText(appendText(appendText(message, text1), text2), text3);
  *end = '\0';
  record->severity = severity;
  std::memset(record->state, 0, sizeof record->state);
  for (size_t i = 0; state != nullptr && i + 1 < sizeof record->state && state[i] != '\0'; ++i) {
    record->state[i] = state[i];
  }
  record->native = native;
  record->message = message;
  record->flag = 0;
  if (listInsert(context->records, LIST_APPEND, record) == 0) {
    heapFree(message);
    heapFree(record);
  }
}

void diagAddRecords(DiagContext* context, const DiagContext* from) {
  if (context == nullptr || from == nullptr || from->records == nullptr) return;
  for (const ListNode* node = from->records->first; node != nullptr; node = node->next) {
    const auto* record = static_cast<const DiagRecord*>(node->item);
    diagAdd(context, record->state, record->native, record->severity, record->message, nullptr,
            nullptr);
  }
}

void diagClear(DiagContext* context) {
  if (context == nullptr) return;
  context->flags = 0;
  while (auto* record = static_cast<DiagRecord*>(listMove(context->records, LIST_FIRST, nullptr))) {
    listRemove(context->records);
    heapFree(record->message);
    heapFree(record);
  }
}

}  // namespace volsten
