#include "sys/file_lock.h"

#include <sys/file.h>

#include <cerrno>

#include "sys/fault.h"

namespace volsten {

// flock locks the open file description: two opens of the file, in one
// process or in two, exclude each other, and readers that do not lock are
// never blocked.
bool sysFileLock(std::FILE* stream) {
  if (stream == nullptr || faultShouldFail(FaultPoint::FileLock)) return false;
  int fd = fileno(stream);
  if (fd < 0) return false;
  int rc;
  do {
    rc = flock(fd, LOCK_EX);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void sysFileUnlock(std::FILE* stream) {
  if (stream == nullptr) return;
  int fd = fileno(stream);
  if (fd >= 0) flock(fd, LOCK_UN);
}

}  // namespace volsten
