#include "sys/file_lock.h"

#include <io.h>
#include <windows.h>

#include "sys/fault.h"

namespace volsten {
namespace {

// The locked byte lies far beyond any real file's size, so no read of the
// file's contents ever touches it: only writers that lock the same byte wait.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
// Polling interval while another writer holds the lock.
constexpr DWORD kPollMilliseconds = 10;

HANDLE handleOf(const SysFileLock* lock) { return reinterpret_cast<HANDLE>(lock->handle); }

// File systems and redirectors without byte-range locks answer so.
bool lacksLocks(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

enum class Attempt { Locked, Held, Unsupported, Failed };

// One try that does not wait. The Windows 95 family has LockFileEx only as a
// stub; LockFile, which never waits, serves there.
Attempt tryLock(HANDLE file) {
  OVERLAPPED at = {};
  at.OffsetHigh = kLockOffsetHigh;
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
    return Attempt::Locked;
  DWORD error = GetLastError();
  if (error == ERROR_CALL_NOT_IMPLEMENTED) {
    if (LockFile(file, 0, kLockOffsetHigh, 1, 0)) return Attempt::Locked;
    error = GetLastError();
  }
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return Attempt::Held;
  return lacksLocks(error) ? Attempt::Unsupported : Attempt::Failed;
}

}  // namespace

// Byte-range locks belong to the file object, which a duplicated handle
// shares: the lock taken through the duplicate lasts while the duplicate is
// open, also after the stream's own handle is closed.
SysFileLockResult sysFileLock(std::FILE* stream, uint32_t waitMilliseconds, SysFileLock* lock) {
  *lock = SysFileLock{};
  if (stream == nullptr || faultShouldFail(FaultPoint::FileLock)) return SysFileLockResult::Refused;
  HANDLE own = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  HANDLE file = nullptr;
  if (own == INVALID_HANDLE_VALUE || !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(),
                                                      &file, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return SysFileLockResult::Refused;
  }
  lock->handle = reinterpret_cast<uintptr_t>(file);
  if (faultShouldFail(FaultPoint::FileLockMissing)) return SysFileLockResult::Unsupported;
  const DWORD start = GetTickCount();
  for (;;) {
    switch (tryLock(file)) {
      case Attempt::Locked: lock->held = true; return SysFileLockResult::Locked;
      case Attempt::Unsupported: return SysFileLockResult::Unsupported;
      case Attempt::Failed: break;
      case Attempt::Held:
        // Unsigned difference: right also when the tick count wraps.
        if (GetTickCount() - start < waitMilliseconds) {
          Sleep(kPollMilliseconds);
          continue;
        }
        break;
    }
    break;
  }
  DWORD error = GetLastError();
  sysFileUnlock(lock);
  SetLastError(error);
  return SysFileLockResult::Refused;
}

bool sysFileCutBack(const SysFileLock* lock, int64_t size) {
  HANDLE file = handleOf(lock);
  if (file == nullptr || size < 0) return false;
  LONG high = static_cast<LONG>(size >> 32);
  DWORD low = SetFilePointer(file, static_cast<LONG>(size & 0xFFFFFFFF), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  return SetEndOfFile(file) && FlushFileBuffers(file);
}

void sysFileUnlock(SysFileLock* lock) {
  HANDLE file = handleOf(lock);
  if (file != nullptr) {
    DWORD error = GetLastError();
    // UnlockFile releases a range locked by either call, on both families.
    if (lock->held) UnlockFile(file, 0, kLockOffsetHigh, 1, 0);
    CloseHandle(file);
    SetLastError(error);
  }
  *lock = SysFileLock{};
}

}  // namespace volsten
