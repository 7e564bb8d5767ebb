#include "sys/stop_signal.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace volsten {
namespace {

// SIGUSR1 is the program's own request. All three stay blocked in every
// thread, so only the waiting thread ever takes them.
sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

bool sysStopSignalsCatch() {
  sigset_t set = stopSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

void sysStopWait() {
  sigset_t set = stopSignals();
  int signal = 0;
  while (sigwait(&set, &signal) != 0) {
  }
}

void sysStopRequest() { kill(getpid(), SIGUSR1); }

}  // namespace volsten
