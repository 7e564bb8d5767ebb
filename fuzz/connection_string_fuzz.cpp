// Fuzz target for the connection-string parser and the pool's comparison.
// The input is parsed whole (with its length, and as a NUL-terminated text),
// and as two strings split at its first line feed (or in the middle) that
// are then compared. Every text sits in a block of exactly its size, so a
// read past it is caught by AddressSanitizer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/diag.h"
#include "base/heap.h"
#include "base/list.h"
#include "base/str.h"
#include "net/connection_string.h"

namespace volsten {
namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// A parsed key or value is null or a non-empty text without trailing blank
// that fits in the input.
void checkText(const char* text, size_t inputSize) {
  if (text == nullptr) return;
  size_t n = std::strlen(text);
  require(n > 0 && n <= inputSize && text[n - 1] != ' ');
}

void checkPairs(const KeyedList* list, size_t inputSize) {
  for (const ListNode* node = list->first; node != nullptr; node = node->next) {
    auto* pair = static_cast<const ConnectionPair*>(node->item);
    require(pair->keyLength == NTS && pair->valueLength == NTS);
    checkText(pair->key, inputSize);
    checkText(pair->value, inputSize);
  }
}

bool keysDistinct(const KeyedList* list) {
  for (const ListNode* p = list->first; p != nullptr; p = p->next) {
    for (const ListNode* q = p->next; q != nullptr; q = q->next) {
      auto* a = static_cast<const ConnectionPair*>(p->item);
      auto* b = static_cast<const ConnectionPair*>(q->item);
      if (std::strcmp(a->key ? a->key : "", b->key ? b->key : "") == 0) return false;
    }
  }
  return true;
}

KeyedList* parseCopy(DiagContext* diag, TracedHeap* heap, const uint8_t* data, size_t size,
                     bool terminated) {
  std::unique_ptr<char[]> text(new char[size + (terminated ? 1 : 0)]);
  if (size > 0) std::memcpy(text.get(), data, size);
  if (terminated) text[size] = '\0';
  KeyedList* list = listCreate(heap);
  require(list != nullptr);
  parseConnectionString(diag, heap, list, text.get(),
                        terminated ? NTS : static_cast<int32_t>(size));
  require(diagStatus(diag) >= 0);
  checkPairs(list, size);
  return list;
}

}  // namespace
}  // namespace volsten

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace volsten;
  if (size > 60000) return 0;  // words stay below the 16-bit copy limit
  DiagContext* diag = diagCreate(nullptr);
  TracedHeap* heap = heapCreate(2048);
  require(diag != nullptr && heap != nullptr);

  KeyedList* whole = parseCopy(diag, heap, data, size, false);
  KeyedList* terminated = parseCopy(diag, heap, data, size, true);
  // Up to the first NUL both readings see the same text.
  if (size == 0 || std::memchr(data, 0, size) == nullptr)
    require(whole->count == terminated->count);
  if (keysDistinct(whole)) require(sameConnectionPairs(whole, whole));

  const void* feed = size > 0 ? std::memchr(data, '\n', size) : nullptr;
  size_t cut =
      feed != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(feed) - data) : size / 2;
  KeyedList* a = parseCopy(diag, heap, data, cut, false);
  KeyedList* b = parseCopy(diag, heap, data + cut, size - cut, false);
  bool same = sameConnectionPairs(a, b);
  require(!same || a->count == b->count);

  heapDestroy(heap);
  diagFree(diag);
  return 0;
}
