#include "sys/environment.h"

#include <cstdlib>
#include <cstring>

namespace volsten {

int32_t sysGetEnvironment(const char* name, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return -1;
  out[0] = '\0';
  if (name == nullptr) return 0;
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  size_t n = std::strlen(value);
  if (n >= static_cast<size_t>(size)) return -1;
  std::memcpy(out, value, n + 1);
  return static_cast<int32_t>(n);
}

bool sysSetEnvironment(const char* name, const char* value) {
  if (name == nullptr) return false;
  if (value == nullptr) return unsetenv(name) == 0;
  return setenv(name, value, 1) == 0;
}

}  // namespace volsten
