// The transport's own table and the shared fields of its records. A
// record's socket and closing flag are written by one thread while others
// read them (a close while a receive waits), so they are touched only
// atomically. Sockets are taken out of records under the table's mutex and
// closed after it is released: a close may linger for up to 60 seconds and
// must not hold up every other thread's handles.
#pragma once

#include <cstdint>

#include "net/shared_fields.h"
#include "net/tcp/tcp_transport.h"

namespace volsten {

inline SysSocket socketOf(SocketRecord* record) { return sharedLoad(record->socket); }
// Leaves kSysInvalidSocket behind; whoever takes a socket closes it.
inline SysSocket takeSocket(SocketRecord* record) {
  return sharedTake(record->socket, kSysInvalidSocket);
}

// Sockets taken out of records, to be closed once the table is unlocked.
class SocketBatch {
 public:
  SocketBatch() = default;
  SocketBatch(const SocketBatch&) = delete;
  SocketBatch& operator=(const SocketBatch&) = delete;
  ~SocketBatch() { closeAll(); }

  void add(SysSocket socket) {
    if (socket != kSysInvalidSocket && count_ < kCapacity) sockets_[count_++] = socket;
  }
  void closeAll();

 private:
  // One socket per handle at most, and the listener's own.
  static constexpr int32_t kCapacity = kHandleCount + 1;
  int32_t count_ = 0;
  SysSocket sockets_[kCapacity];
};

// Marks closing and takes the sockets of every connection the listener
// accepted, then the listener's own, into batch. Must run under the table's
// mutex (inside forEachInUse), or be given the records as found there.
void takeListenerSockets(DiagContext* diag, int32_t listener, SocketBatch* batch);

}  // namespace volsten
