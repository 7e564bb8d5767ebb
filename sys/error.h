// The last system error of the calling thread, as a code and as the
// system's own text.
#pragma once

#include <cstdint>

namespace volsten {

// GetLastError() on Windows, errno on POSIX.
uint32_t sysLastError();
void sysSetLastError(uint32_t code);

// The system's code for "not enough memory": ERROR_NOT_ENOUGH_MEMORY on
// Windows, ENOMEM on POSIX.
uint32_t sysOutOfMemoryCode();
// The system's code for an invalid parameter: ERROR_INVALID_PARAMETER on
// Windows, EINVAL on POSIX.
uint32_t sysInvalidParameterCode();

// Stores the system's text for code in buffer, NUL-terminated; size is the
// number of bytes the system may write, terminator included. When the system
// has no text for the code, the text is the code in decimal. Returns the
// length stored.
int32_t sysErrorText(uint32_t code, char* buffer, int32_t size);

}  // namespace volsten
