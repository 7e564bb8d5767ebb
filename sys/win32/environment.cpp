#include "sys/environment.h"

#include <windows.h>

namespace volsten {

int32_t sysGetEnvironment(const char* name, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return -1;
  out[0] = '\0';
  if (name == nullptr) return 0;
  // The result is the length copied, or the size the value needs (its NUL
  // included) when the buffer is too small, or 0 for an unset variable.
  DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
  if (n >= static_cast<DWORD>(size)) {
    out[0] = '\0';
    return -1;
  }
  return static_cast<int32_t>(n);
}

bool sysSetEnvironment(const char* name, const char* value) {
  return name != nullptr && SetEnvironmentVariableA(name, value) != 0;
}

}  // namespace volsten
