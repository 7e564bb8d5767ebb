#include "sys/sleep.h"

#include <time.h>

#include <cerrno>

namespace volsten {

void sysSleep(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // A signal cuts the sleep short; the rest is slept after it.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace volsten
