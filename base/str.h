// Counted strings: a text pointer and a 32-bit signed length. NTS means the
// text ends at its first NUL byte; 0 and every other negative length mean
// empty; a null text is empty. Copies that do not fit are cut, left
// NUL-terminated, and reported as the warning "01004".
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/diag.h"

namespace volsten {

struct TracedHeap;

constexpr int32_t NTS = -3;

// Raw length: strlen for NTS, the length itself when positive, else 0.
int32_t strLength(const char* text, int32_t length);
// strLength without trailing blanks (0x20) and NUL bytes.
int32_t strTrimmedLength(const char* text, int32_t length);
// strLength without trailing NUL bytes (blanks stay).
int32_t strDataLength(const char* text, int32_t length);

// Copies the text (not trimmed) into dest. Returns 0 for an empty text that
// was stored, otherwise the status of diag.
Status strCopy(DiagContext* diag, char* dest, int32_t destSize, const char* text, int32_t length);
// Appends the text after the destLength bytes already in dest.
Status strAppend(DiagContext* diag, char* dest, int32_t destSize, int32_t destLength,
                 const char* text, int32_t length);
// A NUL-terminated copy of the trimmed text on heap; null for an empty text,
// for a text of 65535 bytes or more, or when the heap is exhausted (those two
// report "HY001").
char* strDuplicate(DiagContext* diag, TracedHeap* heap, const char* text, int32_t length);

// -1, 0 or 1: trailing blanks never count; case and the user's collation do.
// Texts holding a NUL byte are compared byte by byte.
int strCompare(const char* a, int32_t aLength, const char* b, int32_t bLength);
// -1, 0 or 1 by unsigned bytes; trailing NUL bytes never count.
int strCompareBytes(const char* a, int32_t aLength, const char* b, int32_t bLength);

// printf into dest, never past destSize bytes; a result that does not fit is
// cut and NUL-terminated. Returns the number of characters stored.
int32_t strFormat(char* dest, int32_t destSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// True for backslash and slash.
bool isPathSeparator(char c);

// directory, the system's separator unless directory ends in one, and name,
// into out. False, with out empty, when the result does not fit: a path
// cut short would name another file.
bool strJoinPath(char* out, size_t size, const char* directory, const char* name);

}  // namespace volsten
