#include "sys/error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace volsten {
namespace {

// strerror_r comes in two shapes: the XSI one fills the buffer and returns
// an int, the GNU one returns a pointer that may or may not be the buffer.
[[maybe_unused]] const char* textOf(int rc, const char* buffer) {
  return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* textOf(const char* text, const char*) { return text; }

}  // namespace

uint32_t sysLastError() { return static_cast<uint32_t>(errno); }

void sysSetLastError(uint32_t code) { errno = static_cast<int>(code); }

uint32_t sysInvalidParameterCode() { return EINVAL; }

uint32_t sysOutOfMemoryCode() { return ENOMEM; }

int32_t sysErrorText(uint32_t code, char* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return 0;
  char local[256] = {};
  const char* text = textOf(strerror_r(static_cast<int>(code), local, sizeof local), local);
  int n;
  if (text != nullptr && text[0] != '\0') {
    n = std::snprintf(buffer, static_cast<size_t>(size), "%s", text);
  } else {
    n = std::snprintf(buffer, static_cast<size_t>(size), "%lu", static_cast<unsigned long>(code));
  }
  if (n < 0) n = 0;
  if (n >= size) n = size - 1;
  buffer[n] = '\0';
  return n;
}

}  // namespace volsten
