// A detached server for the dispatcher's tests, started as a child by a
// client's "Command": it serves its own standard input and output through
// the dispatcher's listening side, echoing every byte until its input ends.
#include <chrono>
#include <thread>

#include "base/str.h"
#include "tests/net/dispatch_echo.h"

int main() {
  std::atomic<int> ended{0};
  int32_t environment = volsten::openEnvironment(nullptr, nullptr, 0);
  if (environment == 0) return 1;
  if (volsten::listen(nullptr, environment, "Protocol=DetachedServer", volsten::NTS,
                      volsten::testing::dispatchEcho, reinterpret_cast<uintptr_t>(&ended)) == 0) {
    return 1;
  }
  while (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  volsten::freeEnvironment(nullptr, environment);
  return 0;
}
