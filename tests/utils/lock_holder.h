// Holds the services file's writer lock, as a running registration does.
#pragma once

#include <cstdio>
#include <string>

#include "sys/file_lock.h"

namespace volsten::testing {

class LockHolder {
 public:
  explicit LockHolder(const std::string& path, uint32_t waitMilliseconds = 0)
      : file_(std::fopen(path.c_str(), "r+")) {
    locked_ = file_ != nullptr &&
              sysFileLock(file_, waitMilliseconds, &lock_) == SysFileLockResult::Locked;
  }
  ~LockHolder() { release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool locked() const { return locked_; }
  void release() {
    sysFileUnlock(&lock_);
    if (file_ != nullptr) std::fclose(file_);
    locked_ = false;
    file_ = nullptr;
  }

 private:
  std::FILE* file_;
  SysFileLock lock_;
  bool locked_ = false;
};

}  // namespace volsten::testing
