// A heap buffer that grows on request and fails as data, not by throwing:
// the lookups keep their per-thread results in these.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace volsten {

class ScratchBuffer {
 public:
  ScratchBuffer() = default;
  ~ScratchBuffer() { std::free(data_); }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;

  // At least size bytes, keeping none of the old contents; false when out of
  // memory (the old buffer is then kept).
  bool reserve(size_t size) {
    if (size <= size_) return true;
    void* grown = std::malloc(size);
    if (grown == nullptr) return false;
    std::free(data_);
    data_ = static_cast<char*>(grown);
    size_ = size;
    return true;
  }
  char* data() { return data_; }
  size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace volsten
