#include "sys/mutex.h"

#include <windows.h>

#include "sys/fault.h"

namespace volsten {

SysMutex sysMutexCreate(bool initiallyOwned) {
  if (faultShouldFail(FaultPoint::MutexCreate)) return nullptr;
  return CreateMutexA(nullptr, initiallyOwned ? TRUE : FALSE, nullptr);
}

void sysMutexWait(SysMutex mutex) { WaitForSingleObject(mutex, INFINITE); }

bool sysMutexLock(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexLock)) return false;
  return WaitForSingleObject(mutex, INFINITE) != WAIT_FAILED;
}

bool sysMutexRelease(SysMutex mutex) { return ReleaseMutex(mutex) != FALSE; }

bool sysMutexClose(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexClose)) return false;
  return CloseHandle(mutex) != FALSE;
}

}  // namespace volsten
