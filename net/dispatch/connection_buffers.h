// The per-connection buffers of the dispatcher, in a process-wide table of
// 501 entries indexed by the dispatcher handle (entry 0 is never used). A
// connection made by connect also keeps its parsed connection string here:
// the pool compares it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/diag.h"
#include "net/transport_ops.h"

namespace volsten {

struct KeyedList;
struct TracedHeap;

constexpr int32_t kConnectionBufferSize = 16192;

struct ConnectionBuffers {
  TracedHeap* heap;   // holds pairs; null for accepted connections
  KeyedList* pairs;   // the pool key
  char* receiveBuffer;  // each allocated when first needed
  char* sendBuffer;
  int32_t receivePosition;  // next unread byte
  int32_t receiveFill;      // valid bytes
  int32_t sendFill;         // bytes waiting to be sent
  uint8_t refill;  // 1: the next read asks the transport
  uint8_t ended;   // 1: the stream has failed or ended, for good
};

// Zero-filled, refill set; null when there is no memory (nothing recorded).
ConnectionBuffers* buffersCreate();
// Frees its heap, its buffers and itself.
void buffersDestroy(ConnectionBuffers* buffers);

// The entries, written by the thread that owns the handle and read by pool
// searches on other threads.
extern std::atomic<ConnectionBuffers*> connectionBuffers[501];

// The entry of a handle (1..500), or null.
inline ConnectionBuffers* buffersOf(int32_t handle) {
  return handle >= 1 && handle <= 500 ? connectionBuffers[handle].load(std::memory_order_acquire)
                                      : nullptr;
}
// The entry, made when there is none; null when there is no memory.
ConnectionBuffers* buffersEnsure(int32_t handle);
// Replaces (and destroys) what the entry held.
void buffersAttach(int32_t handle, ConnectionBuffers* buffers);
// Destroys the entry and clears it.
void buffersFree(int32_t handle);

// Serves length bytes from what the last transport read left, when more
// than that is left (so the buffer never runs dry here): false otherwise,
// with nothing taken.
// Inline: it is the whole of a byte-sized read.
inline bool takeBuffered(ConnectionBuffers* buffers, char* buffer, int32_t length) {
  if (buffers == nullptr || buffers->ended || buffers->refill ||
      buffers->receiveFill - buffers->receivePosition <= length) {
    return false;
  }
  if (buffer != nullptr) {
    std::memcpy(buffer, buffers->receiveBuffer + buffers->receivePosition,
                static_cast<size_t>(length));
  }
  buffers->receivePosition += length;
  return true;
}

// The buffered halves of send and receive, over the connection's transport.
Status bufferedSend(DiagContext* diag, ConnectionBuffers* buffers, const TransportOps& ops,
                    int32_t transportConnection, const char* data, int32_t length);
Status bufferedReceive(DiagContext* diag, ConnectionBuffers* buffers, const TransportOps& ops,
                       int32_t transportConnection, char* buffer, int32_t length);

}  // namespace volsten
