// Holds the services file's writer lock, as a running registration does.
#pragma once

#include <cstdio>
#include <string>

#include "sys/file_lock.h"

namespace volsten::testing {

class LockHolder {
 public:
  explicit LockHolder(const std::string& path) : file_(std::fopen(path.c_str(), "r+")) {
    locked_ = file_ != nullptr && sysFileLock(file_);
  }
  ~LockHolder() { release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool locked() const { return locked_; }
  void release() {
    if (locked_) sysFileUnlock(file_);
    if (file_ != nullptr) std::fclose(file_);
    locked_ = false;
    file_ = nullptr;
  }

 private:
  std::FILE* file_;
  bool locked_ = false;
};

}  // namespace volsten::testing
