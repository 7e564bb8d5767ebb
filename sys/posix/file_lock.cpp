#include "sys/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "sys/fault.h"

namespace volsten {
namespace {

// Polling interval while another writer holds the lock.
constexpr long kPollMilliseconds = 10;

int64_t nowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void pause(long milliseconds) {
  timespec wait{0, milliseconds * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

// File systems that have no locks say so with these.
bool lacksLocks(int error) { return error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP; }

int fdOf(const SysFileLock* lock) { return static_cast<int>(lock->handle) - 1; }

}  // namespace

// flock locks the open file description. The lock's descriptor is a
// duplicate of the stream's, so it shares that description: the lock
// excludes every other open of the file, in this process or another, and
// lasts until the duplicate is closed, whatever becomes of the stream.
SysFileLockResult sysFileLock(std::FILE* stream, uint32_t waitMilliseconds, SysFileLock* lock) {
  *lock = SysFileLock{};
  if (stream == nullptr || faultShouldFail(FaultPoint::FileLock)) return SysFileLockResult::Refused;
  int fd = fcntl(fileno(stream), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return SysFileLockResult::Refused;
  lock->handle = static_cast<uintptr_t>(fd) + 1;
  if (faultShouldFail(FaultPoint::FileLockMissing)) return SysFileLockResult::Unsupported;
  const int64_t deadline = nowMilliseconds() + waitMilliseconds;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lock->held = true;
      return SysFileLockResult::Locked;
    }
    int error = errno;
    if (error == EINTR) continue;
    if (lacksLocks(error)) return SysFileLockResult::Unsupported;
    if (error != EWOULDBLOCK || nowMilliseconds() >= deadline) break;
    pause(kPollMilliseconds);
  }
  int error = errno;
  sysFileUnlock(lock);
  errno = error;
  return SysFileLockResult::Refused;
}

bool sysFileCutBack(const SysFileLock* lock, int64_t size) {
  int fd = fdOf(lock);
  if (fd < 0 || size < 0) return false;
  return ftruncate(fd, static_cast<off_t>(size)) == 0 && fsync(fd) == 0;
}

void sysFileUnlock(SysFileLock* lock) {
  int fd = fdOf(lock);
  if (fd >= 0) {
    int saved = errno;
    if (lock->held) flock(fd, LOCK_UN);
    close(fd);
    errno = saved;
  }
  *lock = SysFileLock{};
}

}  // namespace volsten
