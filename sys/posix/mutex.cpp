#include "sys/mutex.h"

#include <pthread.h>

#include <cerrno>
#include <new>

#include "sys/fault.h"

namespace volsten {
namespace {

pthread_mutex_t* asMutex(SysMutex mutex) { return static_cast<pthread_mutex_t*>(mutex); }

// pthread calls return their error instead of setting errno; it is stored
// there so that sysLastError() tells why a call failed.
bool succeeded(int rc) {
  if (rc != 0) errno = rc;
  return rc == 0;
}

}  // namespace

// A Windows mutex is recursive and owned by the thread that holds it; a
// recursive pthread mutex behaves the same way, and like a Windows mutex it
// refuses a release by a thread that does not hold it.
SysMutex sysMutexCreate(bool initiallyOwned) {
  if (faultShouldFail(FaultPoint::MutexCreate)) return nullptr;
  auto* mutex = new (std::nothrow) pthread_mutex_t;
  if (mutex == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  pthread_mutexattr_t attr;
  int rc = pthread_mutexattr_init(&attr);
  if (rc == 0) {
    rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0) rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
  }
  if (!succeeded(rc)) {
    delete mutex;
    return nullptr;
  }
  if (initiallyOwned) pthread_mutex_lock(mutex);
  return mutex;
}

void sysMutexWait(SysMutex mutex) { pthread_mutex_lock(asMutex(mutex)); }

bool sysMutexLock(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexLock)) return false;
  if (mutex == nullptr) return succeeded(EINVAL);
  return succeeded(pthread_mutex_lock(asMutex(mutex)));
}

bool sysMutexRelease(SysMutex mutex) {
  if (mutex == nullptr) return succeeded(EINVAL);
  return succeeded(pthread_mutex_unlock(asMutex(mutex)));
}

bool sysMutexClose(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexClose)) return false;
  if (mutex == nullptr) return succeeded(EINVAL);
  if (!succeeded(pthread_mutex_destroy(asMutex(mutex)))) return false;
  delete asMutex(mutex);
  return true;
}

}  // namespace volsten
