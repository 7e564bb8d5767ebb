// Environment variables of the running process; children started later
// inherit them.
#pragma once

#include <cstdint>

namespace volsten {

// Copies the value of the variable into out (size bytes, NUL-terminated) and
// returns its length: 0 when the variable is unset or empty, -1 when the value
// does not fit (out is then empty).
int32_t sysGetEnvironment(const char* name, char* out, int32_t size);

// Sets the variable; a null value removes it. False when the system refuses.
bool sysSetEnvironment(const char* name, const char* value);

}  // namespace volsten
