#include "sys/error.h"

#include <windows.h>

#include <cstdio>

namespace volsten {

uint32_t sysLastError() { return GetLastError(); }

void sysSetLastError(uint32_t code) { SetLastError(code); }

uint32_t sysInvalidParameterCode() { return ERROR_INVALID_PARAMETER; }

uint32_t sysOutOfMemoryCode() { return ERROR_NOT_ENOUGH_MEMORY; }

int32_t sysErrorText(uint32_t code, char* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return 0;
  // Inserts are never supplied: a system text with %1 in it would otherwise
  // make FormatMessageA read arguments that do not exist.
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, static_cast<DWORD>(size), nullptr);
  if (n == 0 || n >= static_cast<DWORD>(size)) {
    n = static_cast<DWORD>(
        std::snprintf(buffer, static_cast<size_t>(size), "%lu", static_cast<unsigned long>(code)));
    if (n >= static_cast<DWORD>(size)) n = static_cast<DWORD>(size - 1);
  }
  buffer[n] = '\0';
  return static_cast<int32_t>(n);
}

}  // namespace volsten
