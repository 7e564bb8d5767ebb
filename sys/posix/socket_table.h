// The sockets the adapters hand out: values naming a slot of a process-wide
// table and the slot's generation, never raw descriptors.
//
// Why not the descriptor itself: a thread blocked in accept, poll, recv or
// send on a socket that another thread closes must wake up, and the number
// it waits on must not be closed under it, or a socket opened meanwhile may
// get that number and the waiter would act on a stranger's connection. So
// every call holds a use of its socket while it runs; closing marks the
// socket closed (no new use is granted), shuts it down to wake the users, and
// the last use to end closes the descriptor. The generation in the value
// makes a value kept after its close fail (WSAENOTSOCK) instead of naming
// whatever socket later gets the same slot; free slots are reused oldest
// first, so a generation comes round again as late as possible.
#pragma once

#include <cstdint>

#include "sys/socket_api.h"

namespace volsten {

// A new entry for fd; kSysInvalidSocket when the table cannot grow (the
// descriptor is then still the caller's).
SysSocket socketTableAdd(int fd);

// A use of an open socket: its descriptor stays open until the use ends.
// False when the value names no open socket.
bool socketTableAcquire(SysSocket s, int* fd, uint32_t* slot);
// Ends a use. When the socket was closed meanwhile and this was its last use,
// the descriptor is closed here: the return value is close's errno, or 0.
int socketTableRelease(uint32_t slot);

// Marks the socket closed, so that no new use is granted, and takes a use of
// it for the closing call to end with socketTableRelease. *othersUsing tells
// whether calls on other threads still hold uses (they must be woken).
// False when the value names no open socket.
bool socketTableClose(SysSocket s, int* fd, uint32_t* slot, bool* othersUsing);

// A use for the length of a scope.
class SocketUse {
 public:
  explicit SocketUse(SysSocket s) : held_(socketTableAcquire(s, &fd_, &slot_)) {}
  ~SocketUse() {
    if (held_) socketTableRelease(slot_);
  }
  SocketUse(const SocketUse&) = delete;
  SocketUse& operator=(const SocketUse&) = delete;

  bool held() const { return held_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  uint32_t slot_ = 0;
  bool held_;
};

}  // namespace volsten
