#include "base/str.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/heap.h"
#include "base/messages.h"
#include "sys/directories.h"
#include "sys/locale.h"

namespace volsten {
namespace {

// strDuplicate passes n + 1 to a 16-bit allocation size.
constexpr int32_t kDuplicateMax = 65534;

void reportTruncation(DiagContext* diag) {
  diagAdd(diag, "01004", 1, SEVERITY_WARNING, kMessages[MSG_TRUNCATED], nullptr, nullptr);
}

int sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

}  // namespace

// A NUL-terminated text longer than a length can say counts as that longest
// length: a copy of it is then cut and reported like any text that does not
// fit, never taken as empty.
int32_t strLength(const char* text, int32_t length) {
  if (text == nullptr) return 0;
  if (length == NTS) {
    size_t n = std::strlen(text);
    return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
  }
  return length > 0 ? length : 0;
}

int32_t strTrimmedLength(const char* text, int32_t length) {
  int32_t n = strLength(text, length);
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
  return n;
}

int32_t strDataLength(const char* text, int32_t length) {
  int32_t n = strLength(text, length);
  while (n > 0 && text[n - 1] == '\0') --n;
  return n;
}

Status strCopy(DiagContext* diag, char* dest, int32_t destSize, const char* text, int32_t length) {
  int32_t n = strLength(text, length);
  if (dest == nullptr) {
    if (n > 0) reportTruncation(diag);
    return diagStatus(diag);
  }
  if (destSize <= 0) {
    reportTruncation(diag);
    return diagStatus(diag);
  }
  dest[0] = '\0';
  if (n <= 0) return 0;
  if (n < destSize) {
    std::memcpy(dest, text, static_cast<size_t>(n));
    dest[n] = '\0';
    return diagStatus(diag);
  }
  std::memcpy(dest, text, static_cast<size_t>(destSize - 1));
  dest[destSize - 1] = '\0';
  reportTruncation(diag);
  return diagStatus(diag);
}

Status strAppend(DiagContext* diag, char* dest, int32_t destSize, int32_t destLength,
                 const char* text, int32_t length) {
  int32_t d = strLength(dest, destLength);
  if (dest == nullptr) {
    if (strLength(text, length) > 0) reportTruncation(diag);
    return diagStatus(diag);
  }
  // With destSize == d the copy has no room and reports a cut even for an
  // empty text; with destSize < d the caller's length is beyond the buffer
  // and nothing is touched.
  if (destSize >= d) strCopy(diag, dest + d, destSize - d, text, length);
  return diagStatus(diag);
}

char* strDuplicate(DiagContext* diag, TracedHeap* heap, const char* text, int32_t length) {
  int32_t n = strTrimmedLength(text, length);
  if (n == 0) return nullptr;
  if (n > kDuplicateMax) {
    // No 16-bit block can hold it: the same outcome as an exhausted heap.
    diagOutOfMemory(diag);
    return nullptr;
  }
  auto* copy = static_cast<char*>(diagAlloc(diag, heap, static_cast<uint16_t>(n + 1)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, static_cast<size_t>(n));
  copy[n] = '\0';
  return copy;
}

int strCompare(const char* a, int32_t aLength, const char* b, int32_t bLength) {
  int32_t la = strLength(a, aLength), lb = strLength(b, bLength);
  if ((la > 0 && std::memchr(a, '\0', static_cast<size_t>(la)) != nullptr) ||
      (lb > 0 && std::memchr(b, '\0', static_cast<size_t>(lb)) != nullptr)) {
    return strCompareBytes(a, la, b, lb);
  }
  int32_t ta = strTrimmedLength(a, aLength), tb = strTrimmedLength(b, bLength);
  if (ta == 0 && tb == 0) return 0;
  switch (sysCompareLocale(ta > 0 ? a : "", ta, tb > 0 ? b : "", tb)) {
    case 1: return -1;
    case 2: return 0;
    default: return 1;  // greater, or the comparison failed
  }
}

int strCompareBytes(const char* a, int32_t aLength, const char* b, int32_t bLength) {
  int32_t la = strDataLength(a, aLength), lb = strDataLength(b, bLength);
  if (la == 0 && lb == 0) return 0;
  if (la == 0) return -1;
  if (lb == 0) return 1;
  int32_t common = la < lb ? la : lb;
  int c = sign(std::memcmp(a, b, static_cast<size_t>(common)));
  if (la == lb) return c;
  // An equal prefix makes the longer text the greater one.
  if (la > lb) return c < 0 ? -1 : 1;
  return c > 0 ? 1 : -1;
}

int32_t strFormat(char* dest, int32_t destSize, const char* format, ...) {
  if (dest == nullptr || destSize <= 0) return 0;
  dest[0] = '\0';
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(dest, static_cast<size_t>(destSize), format, args);
  va_end(args);
  // Some C runtimes neither terminate a cut result nor report its length.
  dest[destSize - 1] = '\0';
  if (n < 0 || n >= destSize) return static_cast<int32_t>(std::strlen(dest));
  return n;
}

bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

bool strJoinPath(char* out, size_t size, const char* directory, const char* name) {
  size_t used = std::strlen(directory);
  bool separated = used > 0 && isPathSeparator(directory[used - 1]);
  if (size == 0) return false;
  out[0] = '\0';
  if (used + (separated ? 0 : 1) + std::strlen(name) >= size) return false;
  std::memcpy(out, directory, used);
  if (!separated) out[used++] = sysPathSeparator();
  std::strcpy(out + used, name);
  return true;
}

}  // namespace volsten
