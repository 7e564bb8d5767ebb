// Server instances: a pipe is a listening Unix-domain socket bound to the
// name; its instances wait for clients on it and then each hold one
// connection (see sys/posix/pipe_registry.h).
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>

#include "sys/named_pipe.h"
#include "sys/posix/pipe_registry.h"
#include "sys/posix/socket_table.h"

namespace volsten {
namespace {

// A socket file with no listener refuses connections: it is stale. Any other
// answer means someone serves it, or that we cannot tell.
int probeSocketFile(const sockaddr_un& address) {
  OwnedFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (probe.get() < 0) return errno;
  if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return EADDRINUSE;
  }
  switch (errno) {
    case ECONNREFUSED: return ::unlink(address.sun_path) == 0 || errno == ENOENT ? 0 : errno;
    case ENOENT: return 0;           // gone meanwhile
    case EAGAIN: return EADDRINUSE;  // served, every instance busy
    default: return errno;
  }
}

// Clears the path for a new pipe: nothing there, or a stale socket file. A
// file of any other kind is never touched, and a symbolic link is never
// followed: it may point at someone else's file.
int clearPath(const sockaddr_un& address) {
  struct stat there {};
  if (::lstat(address.sun_path, &there) != 0) return errno == ENOENT ? 0 : errno;
  if (!S_ISSOCK(there.st_mode)) return EEXIST;
  return probeSocketFile(address);
}

// Binds and listens at the path; the listener is non-blocking, so that a
// wait whose client another instance took polls again rather than blocking
// in accept.
bool openListener(const sockaddr_un& address, uint32_t maxInstances, SysSocket* listener,
                  struct stat* bound) {
  if (int error = clearPath(address); error != 0) return failWith(error, false);
  OwnedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return false;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return false;
  }
  // A queued client holds an instance that is free now. With backlog 0 Linux
  // queues one client and refuses the next (EAGAIN), which then waits.
  int backlog =
      maxInstances == kSysPipeUnlimitedInstances ? SOMAXCONN : static_cast<int>(maxInstances) - 1;
  if (::listen(fd.get(), backlog) != 0 || ::lstat(address.sun_path, bound) != 0) {
    int error = errno;
    ::unlink(address.sun_path);
    return failWith(error, false);
  }
  *listener = socketTableAdd(fd.get());
  if (*listener == kSysInvalidSocket) {
    ::unlink(address.sun_path);
    return failWith(ENOBUFS, false);
  }
  fd.release();
  return true;
}

// The instance's entry, waiting on a wake socket of its own.
bool addWaitingInstance(uint32_t id, SysNamedPipe* instance) {
  OwnedFd wake(pipeWakeSocket());
  if (wake.get() < 0) return false;
  SysSocket s = socketTableAdd(wake.get(), pipeTag(id, PipeKind::Waiting));
  if (s == kSysInvalidSocket) return failWith(ENOBUFS, false);
  wake.release();
  *instance = s;
  return true;
}

enum : int { kWoken = -2 };

// The next client of the listener, or kWoken when the instance's wake socket
// was shut down (its close), or -1 with errno.
int acceptOrWake(int listener, int wake) {
  for (;;) {
    pollfd watch[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(watch, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (watch[1].revents != 0) return kWoken;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
    // Another instance took the client, or it left before it was accepted.
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
      return -1;
    }
  }
}

// Waits for a client for an instance whose tag the caller has just set to
// Accepting.
SysPipeAccept waitForClient(const SocketUse& use, uint32_t accepting) {
  SocketUse listener(pipeRegistryListener(pipeId(accepting)));
  // No listener: the pipe's last instance, this one, was closed meanwhile.
  if (!listener.held()) return SysPipeAccept::Connected;
  int fd = acceptOrWake(listener.fd(), use.fd());
  if (fd == kWoken) return SysPipeAccept::Connected;
  uint32_t tag = accepting;
  if (fd < 0) {
    int error = errno;
    // A failure because the instance was closed meanwhile (its wait ended)
    // is the close's doing, not a failure of the wait.
    if (!socketTableRetag(use.slot(), &tag, withKind(accepting, PipeKind::Waiting), -1) &&
        tag == 0) {
      return SysPipeAccept::Connected;
    }
    return failWith(error, SysPipeAccept::Failed);
  }
  OwnedFd accepted(fd);
  // The instance is now this connection. When it was closed meanwhile, the
  // client is let go with it.
  if (!socketTableRetag(use.slot(), &tag, withKind(accepting, PipeKind::Connected), fd) &&
      tag == accepting) {
    int error = errno;
    socketTableRetag(use.slot(), &tag, withKind(accepting, PipeKind::Waiting), -1);
    return failWith(error, SysPipeAccept::Failed);
  }
  return SysPipeAccept::Connected;
}

}  // namespace

bool sysNamedPipeCreate(const char* name, bool first, uint32_t maxInstances,
                        SysNamedPipe* instance) {
  if (instance == nullptr) return failWith(EINVAL, false);
  *instance = kSysNoNamedPipe;
  if (maxInstances < 1 || maxInstances > kSysPipeUnlimitedInstances) {
    return failWith(EINVAL, false);
  }
  sockaddr_un address;
  if (!pipeAddress(name, &address)) return false;
  uint32_t id = first ? pipeRegistryReserve(address.sun_path, maxInstances)
                      : pipeRegistryAddInstance(address.sun_path);
  if (id == 0) return false;
  if (first) {
    SysSocket listener;
    struct stat bound {};
    if (!openListener(address, maxInstances, &listener, &bound)) {
      pipeRegistryDropInstance(id);
      return false;
    }
    pipeRegistryPublish(id, listener, bound.st_dev, bound.st_ino);
  }
  if (!addWaitingInstance(id, instance)) {
    pipeRegistryDropInstance(id);
    return false;
  }
  return true;
}

SysPipeAccept sysNamedPipeAccept(SysNamedPipe instance) {
  SocketUse use(instance);
  if (!use.held()) return failWith(EBADF, SysPipeAccept::Failed);
  uint32_t tag = use.tag();
  if (!isInstance(tag)) return failWith(EINVAL, SysPipeAccept::Failed);
  // Like Windows: a client that came before the wait is reported at once.
  while (pipeKind(tag) == PipeKind::Waiting) {
    uint32_t accepting = withKind(tag, PipeKind::Accepting);
    if (socketTableRetag(use.slot(), &tag, accepting, -1)) return waitForClient(use, accepting);
  }
  // tag 0: closed meanwhile, which ends a wait as well.
  if (tag == 0 || pipeKind(tag) == PipeKind::Connected) return SysPipeAccept::Connected;
  return failWith(EBUSY, SysPipeAccept::Failed);  // another thread waits on it
}

bool sysNamedPipeFlush(SysNamedPipe instance) {
  // Data written to a Unix-domain socket stays readable after the writer
  // closes: there is nothing to wait for.
  SocketUse use(instance);
  return use.held() ? true : failWith(EBADF, false);
}

bool sysNamedPipeDisconnect(SysNamedPipe instance) {
  SocketUse use(instance);
  if (!use.held()) return failWith(EBADF, false);
  uint32_t tag = use.tag();
  if (!isInstance(tag)) return failWith(EINVAL, false);
  if (pipeKind(tag) != PipeKind::Connected) return true;  // no client to end
  // The client reads the end of the data; a read of ours blocked on the
  // connection returns.
  ::shutdown(use.fd(), SHUT_RDWR);
  OwnedFd wake(pipeWakeSocket());
  if (wake.get() < 0) return false;
  // False when a close or another disconnect came first: the connection
  // ended all the same.
  socketTableRetag(use.slot(), &tag, withKind(tag, PipeKind::Waiting), wake.get());
  return true;
}

bool sysNamedPipeAccessText(SysNamedPipe, char* text, int32_t size) {
  if (text != nullptr && size > 0) text[0] = '\0';
  return failWith(ENOSYS, false);
}

}  // namespace volsten
