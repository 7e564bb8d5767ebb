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
// descriptor is then still the caller's). The tag is the caller's word about
// the socket (the adapters leave it 0; named pipes keep what an end is in it).
SysSocket socketTableAdd(int fd, uint32_t tag = 0);

// A use of an open socket: its descriptor stays open until the use ends.
// False when the value names no open socket.
bool socketTableAcquire(SysSocket s, int* fd, uint32_t* slot, uint32_t* tag = nullptr);
// Ends a use. When the socket was closed meanwhile and this was its last use,
// the descriptor is closed here: the return value is close's errno, or 0.
// errno itself is left as it was, so that a call's own error survives the
// end of its use.
int socketTableRelease(uint32_t slot);

// For a caller holding a use of slot: when the socket is open and its tag is
// *tag, sets the tag to newTag and, for fd >= 0, makes the entry's descriptor
// a duplicate of fd under the same number (dup3, close-on-exec), so that no
// other use ever sees that number closed. Done under the table's lock, so a
// close either comes before (false) or finds the new descriptor. False when
// the tag differs (*tag is then the current one, 0 once the socket is
// closed) or the dup3 fails (*tag unchanged, errno set).
bool socketTableRetag(uint32_t slot, uint32_t* tag, uint32_t newTag, int fd);

// Marks the socket closed, so that no new use is granted, and takes a use of
// it for the closing call to end with socketTableRelease. *othersUsing tells
// whether calls on other threads still hold uses (they must be woken), *tag
// (when given) the socket's tag. False when the value names no open socket.
bool socketTableClose(SysSocket s, int* fd, uint32_t* slot, bool* othersUsing,
                      uint32_t* tag = nullptr);

// The whole close: marks the socket closed, shuts it down when calls on other
// threads use it (which wakes them), and closes the descriptor here or with
// the last of their uses. False when the value names no open socket.
// *closeError is close's errno or 0.
bool socketTableShutAndClose(SysSocket s, int* closeError, uint32_t* tag = nullptr);

// A use for the length of a scope.
class SocketUse {
 public:
  explicit SocketUse(SysSocket s) : held_(socketTableAcquire(s, &fd_, &slot_, &tag_)) {}
  ~SocketUse() {
    if (held_) socketTableRelease(slot_);
  }
  SocketUse(const SocketUse&) = delete;
  SocketUse& operator=(const SocketUse&) = delete;

  bool held() const { return held_; }
  int fd() const { return fd_; }
  uint32_t slot() const { return slot_; }
  // The tag when the use began.
  uint32_t tag() const { return tag_; }

 private:
  int fd_ = -1;
  uint32_t slot_ = 0;
  uint32_t tag_ = 0;
  bool held_;
};

}  // namespace volsten
