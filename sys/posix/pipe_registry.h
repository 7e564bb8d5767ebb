// The parts the named-pipe calls share: what a pipe value is, its socket
// address, and the process's pipes with their listening sockets.
//
// Every pipe value is a value of the socket table (sys/posix/socket_table.h),
// so a close from another thread wakes the calls on it and never closes a
// descriptor under them. The entry's tag tells a client end from a server
// instance and, for an instance, its state and its pipe.
//
// An instance that waits for a client does not hold the pipe's listening
// socket: its instances share that one socket, and the shutdown that a close
// uses to wake a blocked call would shut the listener down for all of them.
// A waiting instance holds a socket of its own instead, a datagram socket
// without an address that nothing can reach (its "wake socket"); a wait for a
// client polls the listener and that socket, and the close's shutdown of it
// ends the wait. The accepted connection then takes the wake socket's
// descriptor number.
#pragma once

#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sys/socket_api.h"

namespace volsten {

enum class PipeKind : uint32_t { None = 0, Client = 1, Waiting = 2, Accepting = 3, Connected = 4 };

// A tag is the kind in the low bits and, for an instance, its pipe's id above.
constexpr uint32_t kPipeKindBits = 3;
constexpr uint32_t kPipeIdMax = ~uint32_t{0} >> kPipeKindBits;

constexpr uint32_t pipeTag(uint32_t id, PipeKind kind) {
  return (id << kPipeKindBits) | static_cast<uint32_t>(kind);
}
constexpr PipeKind pipeKind(uint32_t tag) {
  return static_cast<PipeKind>(tag & ((1u << kPipeKindBits) - 1));
}
constexpr uint32_t pipeId(uint32_t tag) { return tag >> kPipeKindBits; }
constexpr uint32_t withKind(uint32_t tag, PipeKind kind) { return pipeTag(pipeId(tag), kind); }
constexpr bool isInstance(uint32_t tag) {
  return pipeKind(tag) >= PipeKind::Waiting && pipeKind(tag) <= PipeKind::Connected;
}

// Owns a descriptor until it is released; the close keeps errno, so a
// failure's reason survives the cleanup.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ < 0) return;
    int saved = errno;
    ::close(fd_);
    errno = saved;
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The socket address of a pipe name. False with errno EINVAL (null), ENOENT
// (empty) or ENAMETOOLONG (longer than sun_path holds with its terminator).
bool pipeAddress(const char* name, sockaddr_un* address);

// Sets errno and returns result: the failure paths' one-liner.
template <typename T>
T failWith(int error, T result) {
  errno = error;
  return result;
}

// A new wake socket (non-blocking, close-on-exec), or -1 with errno.
int pipeWakeSocket();

// --- The process's pipes ---------------------------------------------------

// Reserves path for a new pipe of this process with one instance (the
// creating one): the pipe's id, or 0 with errno EADDRINUSE when the process
// has a pipe there already, or ENOMEM. Others see the pipe once it is
// published; until then a second instance of it is refused.
uint32_t pipeRegistryReserve(const char* path, uint32_t maxInstances);
// Makes a reserved pipe usable: its listening socket (a socket-table value,
// now the registry's) and the identity of the socket file it bound.
void pipeRegistryPublish(uint32_t id, SysSocket listener, dev_t device, ino_t inode);
// One more instance of the published pipe at path: its id, or 0 with errno
// ENOENT (no such pipe in this process) or EBUSY (it has every instance it
// admits).
uint32_t pipeRegistryAddInstance(const char* path);
// The pipe's listening socket; kSysInvalidSocket once the pipe is gone.
SysSocket pipeRegistryListener(uint32_t id);
// One instance fewer. The last one takes the pipe along: its listener, and
// its socket file if the file at the path is still the one it bound.
void pipeRegistryDropInstance(uint32_t id);

}  // namespace volsten
