// Client ends, reads, writes and closes of named pipes over Unix-domain
// stream sockets; the server side is in named_pipe_server.cpp.
#include "sys/named_pipe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sys/posix/pipe_registry.h"
#include "sys/posix/socket_table.h"

namespace volsten {
namespace {

int64_t nowMs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool setSendTimeout(int fd, int64_t ms) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(ms / 1000);
  limit.tv_usec = static_cast<suseconds_t>(ms % 1000 * 1000);
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

// Every instance is busy: the listener's queue is full. A blocking connect
// waits for room in it, and on Linux SO_SNDTIMEO bounds that wait (it then
// fails with EAGAIN). Room in the queue is the free instance itself, so the
// wait ends connected, never with a second open to make.
bool waitForInstance(int fd, const sockaddr_un& address, uint32_t waitMs) {
  // A zero time-out would make SO_SNDTIMEO wait forever.
  if (waitMs == 0) return failWith(ETIMEDOUT, false);
  int64_t deadline = nowMs() + waitMs;
  for (;;) {
    int64_t left = deadline - nowMs();
    if (left <= 0) return failWith(ETIMEDOUT, false);
    if (!setSendTimeout(fd, left)) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    if (errno != EAGAIN && errno != EINTR) return false;
  }
  // The time-out would bound every later write as well.
  return setSendTimeout(fd, 0);
}

bool setBlocking(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// A waiting instance has no connection: its socket is the unreachable wake
// socket, on which nothing may be read or written.
bool waiting(uint32_t tag) {
  return pipeKind(tag) == PipeKind::Waiting || pipeKind(tag) == PipeKind::Accepting;
}

}  // namespace

SysPipeOpen sysNamedPipeOpen(const char* name, uint32_t waitMs, SysNamedPipe* end) {
  if (end == nullptr) return failWith(EINVAL, SysPipeOpen::Failed);
  *end = kSysNoNamedPipe;
  sockaddr_un address;
  if (!pipeAddress(name, &address)) return SysPipeOpen::Failed;
  OwnedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return SysPipeOpen::Failed;
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EAGAIN) return SysPipeOpen::Failed;
    if (!setBlocking(fd.get()) || !waitForInstance(fd.get(), address, waitMs)) {
      return SysPipeOpen::Failed;
    }
  } else if (!setBlocking(fd.get())) {
    return SysPipeOpen::Failed;
  }
  SysSocket s = socketTableAdd(fd.get(), pipeTag(0, PipeKind::Client));
  if (s == kSysInvalidSocket) return failWith(ENOBUFS, SysPipeOpen::Failed);
  fd.release();
  *end = s;
  return SysPipeOpen::Opened;
}

SysPipeIo sysNamedPipeRead(SysNamedPipe end, void* buffer, uint32_t capacity, uint32_t* received) {
  if (received == nullptr) return failWith(EINVAL, SysPipeIo::Failed);
  *received = 0;
  SocketUse use(end);
  if (!use.held()) return failWith(EBADF, SysPipeIo::Failed);
  if (waiting(use.tag())) return failWith(ENOTCONN, SysPipeIo::Failed);
  // A zero-byte recv returns 0, which would read as a gone peer.
  if (capacity == 0) return SysPipeIo::Done;
  ssize_t n;
  do {
    n = ::recv(use.fd(), buffer, capacity, 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    *received = static_cast<uint32_t>(n);
    return SysPipeIo::Done;
  }
  if (n == 0) return SysPipeIo::PeerGone;
  switch (errno) {
    case ECONNRESET:
    case EPIPE:
    case ENOTCONN: return SysPipeIo::PeerGone;
    // Only the wake socket is non-blocking: a disconnect made the instance
    // wait again just before this read began.
    case EAGAIN: return failWith(ENOTCONN, SysPipeIo::Failed);
    default: return SysPipeIo::Failed;
  }
}

SysPipeIo sysNamedPipeWrite(SysNamedPipe end, const void* data, uint32_t length) {
  SocketUse use(end);
  if (!use.held()) return failWith(EBADF, SysPipeIo::Failed);
  if (waiting(use.tag())) return failWith(ENOTCONN, SysPipeIo::Failed);
  // Done tells the caller that every byte went: there is no count to report a
  // short write in, so one that a signal cut short goes on with the rest.
  // MSG_NOSIGNAL: a gone peer is an error here, never SIGPIPE.
  const char* next = static_cast<const char*>(data);
  uint32_t left = length;
  while (left > 0) {
    ssize_t n = ::send(use.fd(), next, left, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == ECONNRESET) errno = EPIPE;
      return SysPipeIo::Failed;
    }
    next += n;
    left -= static_cast<uint32_t>(n);
  }
  return SysPipeIo::Done;
}

bool sysLocalPipeName(const char* base, char* name, int32_t size) {
  if (base == nullptr || name == nullptr || size <= 0) return failWith(EINVAL, false);
  name[0] = '\0';
  const char* directory = std::getenv("TMPDIR");
  if (directory == nullptr || directory[0] != '/') directory = "/tmp";
  int n = std::snprintf(name, static_cast<size_t>(size), "%s/volsten-%ld-%s.sock", directory,
                        static_cast<long>(::getpid()), base);
  // A name the socket address cannot hold could never be served.
  if (n < 0 || n >= size || static_cast<size_t>(n) >= sizeof(sockaddr_un::sun_path)) {
    name[0] = '\0';
    return failWith(ENAMETOOLONG, false);
  }
  return true;
}

bool sysNamedPipeClose(SysNamedPipe end) {
  int error;
  uint32_t tag = 0;
  if (!socketTableShutAndClose(end, &error, &tag)) return failWith(EBADF, false);
  if (isInstance(tag)) pipeRegistryDropInstance(pipeId(tag));
  return error == 0 ? true : failWith(error, false);
}

}  // namespace volsten
