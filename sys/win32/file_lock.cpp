#include "sys/file_lock.h"

#include <io.h>
#include <windows.h>

#include "sys/fault.h"

namespace volsten {
namespace {

// The locked byte lies far beyond any real file's size, so no read of the
// file's contents ever touches it: only writers that lock the same byte wait.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

HANDLE handleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

bool sysFileLock(std::FILE* stream) {
  if (stream == nullptr || faultShouldFail(FaultPoint::FileLock)) return false;
  HANDLE handle = handleOf(stream);
  if (handle == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = {};
  at.OffsetHigh = kLockOffsetHigh;
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) return true;
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  // The Windows 95 family has LockFileEx only as a stub: poll the lock that
  // does not wait.
  while (!LockFile(handle, 0, kLockOffsetHigh, 1, 0)) {
    if (GetLastError() != ERROR_LOCK_VIOLATION) return false;
    Sleep(10);
  }
  return true;
}

void sysFileUnlock(std::FILE* stream) {
  if (stream == nullptr) return;
  HANDLE handle = handleOf(stream);
  if (handle == INVALID_HANDLE_VALUE) return;
  // UnlockFile releases a range locked by either call, on both families.
  UnlockFile(handle, 0, kLockOffsetHigh, 1, 0);
}

}  // namespace volsten
