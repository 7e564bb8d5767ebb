#include "sys/mutex_lock.h"

#include <pthread.h>

#include <cerrno>

#include "sys/fault.h"

namespace volsten {

bool sysMutexLock(SysMutex mutex) {
  if (faultShouldFail(FaultPoint::MutexLock)) {
    errno = EINVAL;
    return false;
  }
  int rc = pthread_mutex_lock(static_cast<pthread_mutex_t*>(mutex));
  if (rc != 0) errno = rc;
  return rc == 0;
}

}  // namespace volsten
