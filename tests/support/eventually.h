// Waiting in tests for a state that other threads bring about.
#pragma once

#include <chrono>
#include <thread>

namespace volsten::testing {

// False if the state never comes within the limit.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace volsten::testing
