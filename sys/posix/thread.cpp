#include "sys/thread.h"

#include <limits.h>
#include <pthread.h>

#include <cerrno>
#include <cstdlib>

#include "sys/fault.h"

namespace volsten {
namespace {

struct Start {
  SysThreadRoutine routine;
  void* argument;
};

void* trampoline(void* raw) {
  Start start = *static_cast<Start*>(raw);
  std::free(raw);
  start.routine(start.argument);
  return nullptr;
}

}  // namespace

bool sysThreadStart(SysThreadRoutine routine, uint32_t stackSize, void* argument) {
  if (routine == nullptr || faultShouldFail(FaultPoint::ThreadStart)) return false;
  auto* start = static_cast<Start*>(std::malloc(sizeof(Start)));
  if (start == nullptr) return false;
  *start = Start{routine, argument};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stackSize != 0) {
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attr, stackSize < minimum ? minimum : stackSize);
  }
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, trampoline, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    std::free(start);
    // pthread_create reports its error as the result; callers read errno.
    errno = rc;
    return false;
  }
  return true;
}

}  // namespace volsten
