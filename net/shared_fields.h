// Record fields that several threads touch at once: a transport record's
// system handle (a close takes it while a receive waits on it) and its
// closing flag. They are only ever read and written atomically, and a handle
// is taken out with an exchange, so that exactly one thread ends it.
#pragma once

#include <atomic>
#include <cstdint>

namespace volsten {

template <typename T>
T sharedLoad(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}
template <typename T>
void sharedStore(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}
// Leaves none behind and returns what was there.
template <typename T>
T sharedTake(T& field, T none) {
  return std::atomic_ref<T>(field).exchange(none, std::memory_order_acq_rel);
}

// For records with an int32_t closing flag: set once a close has begun,
// never cleared.
template <typename Record>
bool isClosing(Record* record) {
  return sharedLoad(record->closing) != 0;
}
template <typename Record>
void setClosing(Record* record) {
  sharedStore(record->closing, int32_t{1});
}

}  // namespace volsten
