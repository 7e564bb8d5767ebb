#include "sys/file_append.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sys/fault.h"

namespace volsten {
namespace {

// Writes all n bytes at offset; the descriptor's own position is untouched.
bool writeAt(int fd, const char* text, size_t n, off_t offset) {
  while (n > 0) {
    ssize_t written = pwrite(fd, text, n, offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text += written;
    n -= static_cast<size_t>(written);
    offset += written;
  }
  return true;
}

}  // namespace

bool sysFileAppend(std::FILE* stream, const char* text, int64_t* sizeBefore) {
  *sizeBefore = -1;
  if (stream == nullptr || text == nullptr) return false;
  int fd = fileno(stream);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) return false;
  *sizeBefore = static_cast<int64_t>(info.st_size);
  size_t n = std::strlen(text);
  if (faultShouldFail(FaultPoint::StreamWrite)) {
    // As a disk that fills up: half of it arrives.
    int error = errno;
    writeAt(fd, text, n / 2, info.st_size);
    errno = error;
    return false;
  }
  return writeAt(fd, text, n, info.st_size) && !faultShouldFail(FaultPoint::StreamSync) &&
         fsync(fd) == 0;
}

}  // namespace volsten
