#include "base/sync.h"

#include "sys/mutex.h"
#include "sys/thread.h"

namespace volsten {

MutexHandle mutexCreate(int initiallyOwned) { return sysMutexCreate(initiallyOwned != 0); }

int mutexWait(MutexHandle mutex) {
  sysMutexWait(mutex);
  return 1;
}

int mutexRelease(MutexHandle mutex) { return sysMutexRelease(mutex) ? 1 : 0; }

int mutexClose(MutexHandle mutex) { return sysMutexClose(mutex) ? 1 : 0; }

int threadStart(ThreadRoutine routine, uint32_t stackSize, void* argument) {
  return sysThreadStart(routine, stackSize, argument) ? 1 : 0;
}

}  // namespace volsten
