// The server side of the dispatcher's tests: a handler that echoes every
// byte it receives through the dispatcher, flushing each one, until its
// stream ends. userData, when not 0, points to an atomic counter of the
// handlers that have returned.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/dispatch/dispatcher.h"

namespace volsten::testing {

inline void dispatchEcho(int32_t connection, uintptr_t userData) {
  char byte = 0;
  while (receive(nullptr, connection, &byte, 1) == STATUS_SUCCESS) {
    send(nullptr, connection, &byte, 1);
    send(nullptr, connection, nullptr, 0);
  }
  if (userData != 0) ++*reinterpret_cast<std::atomic<int>*>(userData);
}

}  // namespace volsten::testing
