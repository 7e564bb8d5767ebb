// Disarms every fault point when a test ends, whatever it armed.
#pragma once

#include "sys/fault.h"

namespace volsten::testing {

class FaultGuard {
 public:
  FaultGuard() { faultDisarmAll(); }
  ~FaultGuard() { faultDisarmAll(); }
  FaultGuard(const FaultGuard&) = delete;
  FaultGuard& operator=(const FaultGuard&) = delete;
};

}  // namespace volsten::testing
