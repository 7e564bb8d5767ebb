#include "sys/mutex.h"

#include <pthread.h>

#include <cerrno>
#include <new>

#include "sys/fault.h"

namespace volsten {

// A Windows mutex is recursive and owned by the thread that holds it; a
// recursive pthread mutex behaves the same way.
SysMutex sysMutexCreate(bool initiallyOwned) {
  if (faultShouldFail(FaultPoint::MutexCreate)) return nullptr;
  auto* mutex = new (std::nothrow) pthread_mutex_t;
  if (mutex == nullptr) return nullptr;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  int rc = pthread_mutex_init(mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    delete mutex;
    return nullptr;
  }
  if (initiallyOwned) pthread_mutex_lock(mutex);
  return mutex;
}

void sysMutexWait(SysMutex mutex) { pthread_mutex_lock(static_cast<pthread_mutex_t*>(mutex)); }

bool sysMutexLock(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexLock)) {
    errno = EINVAL;
    return false;
  }
  int rc = pthread_mutex_lock(static_cast<pthread_mutex_t*>(mutex));
  if (rc != 0) errno = rc;
  return rc == 0;
}

bool sysMutexRelease(SysMutex mutex) {
  return pthread_mutex_unlock(static_cast<pthread_mutex_t*>(mutex)) == 0;
}

bool sysMutexClose(SysMutex mutex) {
  auto* m = static_cast<pthread_mutex_t*>(mutex);
  if (m == nullptr || pthread_mutex_destroy(m) != 0) return false;
  delete m;
  return true;
}

}  // namespace volsten
