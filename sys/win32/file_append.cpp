#include "sys/file_append.h"

#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "sys/fault.h"

namespace volsten {
namespace {

// Text mode writes each line feed as CR LF.
std::string asTextMode(const char* text) {
  std::string bytes;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') bytes += '\r';
    bytes += *p;
  }
  return bytes;
}

bool writeAll(HANDLE file, const char* bytes, DWORD n) {
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, n, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_HANDLE_DISK_FULL);
      return false;
    }
    bytes += written;
    n -= written;
  }
  return true;
}

// Moves the file pointer to the end; *size receives the file's size.
bool seekToEnd(HANDLE file, int64_t* size) {
  LONG high = 0;
  DWORD low = SetFilePointer(file, 0, &high, FILE_END);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  *size = (static_cast<int64_t>(high) << 32) | low;
  return true;
}

}  // namespace

// The position is set with SetFilePointer rather than passed in an
// OVERLAPPED record, which the Windows 95 family does not take for files.
bool sysFileAppend(std::FILE* stream, const char* text, int64_t* sizeBefore) {
  *sizeBefore = -1;
  if (stream == nullptr || text == nullptr) return false;
  HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  int64_t size = 0;
  if (file == INVALID_HANDLE_VALUE || !seekToEnd(file, &size)) return false;
  *sizeBefore = size;
  std::string bytes = asTextMode(text);
  auto n = static_cast<DWORD>(bytes.size());
  if (faultShouldFail(FaultPoint::StreamWrite)) {
    // As a disk that fills up: half of it arrives.
    writeAll(file, bytes.data(), n / 2);
    SetLastError(ERROR_HANDLE_DISK_FULL);
    return false;
  }
  return writeAll(file, bytes.data(), n) && !faultShouldFail(FaultPoint::StreamSync) &&
         FlushFileBuffers(file);
}

}  // namespace volsten
