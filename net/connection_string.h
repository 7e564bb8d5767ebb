// Connection strings: key=value pairs separated by ';', as in
// Protocol=TCP;Host=...;Port=... . One parser and one comparison serve the
// dispatcher, the transports and the pool. Blanks are the space character
// only; a value holding ';' or '=' is written in braces.
#pragma once

#include <cstdint>

#include "base/diag.h"

namespace volsten {

struct TracedHeap;
struct KeyedList;

// One pair of a parsed string, on the caller's heap. A key or value that is
// empty after trimming trailing blanks is null; leading blanks stay.
struct ConnectionPair {
  char* key;
  int32_t keyLength;  // always NTS
  char* value;
  int32_t valueLength;  // always NTS
};

constexpr int32_t TOKEN_END = 0;
constexpr int32_t TOKEN_SEPARATOR = 1;
constexpr int32_t TOKEN_WORD = 2;

// Scanner state of one parse, on the caller's heap while the parse runs.
struct PairScanner {
  const char* text;
  int32_t size;      // effective length: trailing blanks and NULs dropped
  int32_t position;  // index of the next character to read
  int32_t tokenKind;
  int32_t tokenStart;
  int32_t tokenLength;
};

// Appends one ConnectionPair per pair of the text to list, in text order.
// Running out of memory is reported as "HY001" in diag; the pairs appended
// until then stay.
void parseConnectionString(DiagContext* diag, TracedHeap* heap, KeyedList* list, const char* text,
                           int32_t length);

// True when the two parsed strings name the same connection: as many pairs,
// and each pair of a finds the first pair of b with the same key (bytes) and
// an equal value (strCompare). A null key or value counts as the empty text.
bool sameConnectionPairs(const KeyedList* a, const KeyedList* b);

}  // namespace volsten
