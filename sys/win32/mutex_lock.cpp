#include "sys/mutex_lock.h"

#include <windows.h>

#include "sys/fault.h"

namespace volsten {

bool sysMutexLock(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexLock)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return WaitForSingleObject(mutex, INFINITE) != WAIT_FAILED;
}

}  // namespace volsten
