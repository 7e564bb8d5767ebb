// Fuzz target for the connection-string parser and the pool's comparison.
// The input is parsed whole, with its length and as a NUL-terminated text,
// and the two parses must agree pair for pair. It is also parsed as two
// strings split at its first line feed (or in the middle) that are then
// compared, once as parsed and once with the pairs in another order. Every
// text sits in a block of exactly its size, so a read past it is caught by
// AddressSanitizer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/diag.h"
#include "base/heap.h"
#include "base/list.h"
#include "base/str.h"
#include "fuzz/require.h"
#include "net/connection_string.h"

namespace volsten {
namespace {

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

bool sameText(const char* a, const char* b) {
  return (a == nullptr) == (b == nullptr) && (a == nullptr || std::strcmp(a, b) == 0);
}

// Both lists hold the same pairs in the same order.
bool samePairsInOrder(const KeyedList* a, const KeyedList* b) {
  const ListNode* p = a->first;
  const ListNode* q = b->first;
  for (; p != nullptr && q != nullptr; p = p->next, q = q->next) {
    auto* x = static_cast<const ConnectionPair*>(p->item);
    auto* y = static_cast<const ConnectionPair*>(q->item);
    if (!sameText(x->key, y->key) || !sameText(x->value, y->value)) return false;
  }
  return p == nullptr && q == nullptr;
}

// The same pairs in another order, chosen by the input's bytes: each pair is
// put first or last in turn.
KeyedList* shuffled(TracedHeap* heap, const KeyedList* list, const uint8_t* data, size_t size) {
  KeyedList* out = listCreate(heap);
  require(out != nullptr);
  size_t i = 0;
  for (const ListNode* node = list->first; node != nullptr; node = node->next, ++i) {
    bool first = size > 0 && (data[i % size] & 1) != 0;
    require(listInsert(out, first ? LIST_INSERT_FIRST : LIST_APPEND, node->item) != 0);
  }
  return out;
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
  // A NUL ends the text in both readings.
  require(samePairsInOrder(whole, terminated));
  if (keysDistinct(whole)) require(sameConnectionPairs(whole, whole));

  const void* feed = size > 0 ? std::memchr(data, '\n', size) : nullptr;
  size_t cut =
      feed != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(feed) - data) : size / 2;
  KeyedList* a = parseCopy(diag, heap, data, cut, false);
  KeyedList* b = parseCopy(diag, heap, data + cut, size - cut, false);
  bool same = sameConnectionPairs(a, b);
  require(!same || a->count == b->count);
  // Order never matters on the side whose pairs are looked up; on the side
  // searched, only while its keys are distinct (with a repeated key the
  // first pair that has it is the one compared).
  require(sameConnectionPairs(shuffled(heap, a, data, size), b) == same);
  if (keysDistinct(b))
    require(sameConnectionPairs(a, shuffled(heap, b, data + cut, size - cut)) == same);

  heapDestroy(heap);
  diagFree(diag);
  return 0;
}
