#include "net/dispatch/connection_buffers.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/diag.h"
#include "net/handle_table.h"
#include "sys/fault.h"

namespace volsten {
namespace {


void* generalAlloc(size_t size) {
  return faultShouldFail(FaultPoint::GeneralAlloc) ? nullptr : std::calloc(1, size);
}

bool inRange(int32_t handle) { return handle >= 1 && handle <= kHandleCount; }

// A flush: the buffered bytes go to the transport in one call, also when
// there are none, and the buffer is empty afterwards whatever it reported.
Status flush(DiagContext* diag, ConnectionBuffers* buffers, const TransportOps& ops,
             int32_t transportConnection) {
  Status status = ops.send(diag, transportConnection, buffers->sendBuffer, buffers->sendFill);
  buffers->sendFill = 0;
  return status;
}

}  // namespace

std::atomic<ConnectionBuffers*> connectionBuffers[kHandleCount + 1];
static_assert(kHandleCount + 1 == 501);

ConnectionBuffers* buffersCreate() {
  auto* buffers = static_cast<ConnectionBuffers*>(generalAlloc(sizeof(ConnectionBuffers)));
  if (buffers != nullptr) buffers->refill = 1;
  return buffers;
}

void buffersDestroy(ConnectionBuffers* buffers) {
  if (buffers == nullptr) return;
  if (buffers->heap != nullptr) diagHeapDestroy(buffers->heap);
  std::free(buffers->receiveBuffer);
  std::free(buffers->sendBuffer);
  std::free(buffers);
}

ConnectionBuffers* buffersEnsure(int32_t handle) {
  ConnectionBuffers* buffers = buffersOf(handle);
  if (buffers == nullptr && inRange(handle)) {
    buffers = buffersCreate();
    buffersAttach(handle, buffers);
  }
  return buffers;
}

void buffersAttach(int32_t handle, ConnectionBuffers* buffers) {
  // An entry left by a record that is gone (a connection whose environment
  // was freed while it had users) goes with the handle's new owner.
  if (inRange(handle)) buffersDestroy(connectionBuffers[handle].exchange(buffers, std::memory_order_acq_rel));
}

void buffersFree(int32_t handle) {
  if (inRange(handle)) buffersDestroy(connectionBuffers[handle].exchange(nullptr, std::memory_order_acq_rel));
}

Status bufferedSend(DiagContext* diag, ConnectionBuffers* buffers, const TransportOps& ops,
                    int32_t transportConnection, const char* data, int32_t length) {
  if (buffers->sendBuffer == nullptr) {
    buffers->sendBuffer = static_cast<char*>(generalAlloc(kConnectionBufferSize));
    if (buffers->sendBuffer == nullptr) {
      buffers->sendFill = 0;
      return diagStatus(diag);
    }
  }
  if (length <= 0) return flush(diag, buffers, ops, transportConnection);
  Status status = diagStatus(diag);
  while (length > 0) {
    int32_t room = kConnectionBufferSize - buffers->sendFill;
    int32_t part = length < room ? length : room;
    std::memcpy(buffers->sendBuffer + buffers->sendFill, data, static_cast<size_t>(part));
    buffers->sendFill += part;
    data += part;
    length -= part;
    // A full buffer goes out only when more bytes follow: exactly 16192
    // bytes stay buffered until the next send or flush.
    if (length > 0) status = flush(diag, buffers, ops, transportConnection);
  }
  return diag != nullptr ? diagStatus(diag) : status;
}

Status bufferedReceive(DiagContext* diag, ConnectionBuffers* buffers, const TransportOps& ops,
                       int32_t transportConnection, char* buffer, int32_t length) {
  if (buffers->receiveBuffer == nullptr) {
    buffers->receiveBuffer = static_cast<char*>(generalAlloc(kConnectionBufferSize));
    if (buffers->receiveBuffer == nullptr) return diag != nullptr ? diagStatus(diag) : STATUS_ERROR;
  }
  if (takeBuffered(buffers, buffer, length)) return diagStatus(diag);
  while (length > 0) {
    if (buffers->ended) {
      diagSetStatus(diag, STATUS_NO_DATA);
      return diag != nullptr ? diagStatus(diag) : STATUS_NO_DATA;
    }
    if (buffers->refill) {
      buffers->receivePosition = 0;
      buffers->receiveFill = 0;
      int32_t count = 0;
      Status status = ops.receive(diag, transportConnection, buffers->receiveBuffer,
                                  kConnectionBufferSize, &count);
      if (status < 0 || status == STATUS_NO_DATA) {
        buffers->ended = 1;
        return status;
      }
      buffers->refill = 0;
      if (count > 0) buffers->receiveFill = count;
    }
    int32_t available = buffers->receiveFill - buffers->receivePosition;
    int32_t part = available < length ? available : length;
    if (buffer != nullptr) {
      std::memcpy(buffer, buffers->receiveBuffer + buffers->receivePosition,
                  static_cast<size_t>(part));
      buffer += part;
    }
    buffers->receivePosition += part;
    length -= part;
    // Used up: the next read asks the transport, also when it gave 0 bytes.
    if (buffers->receivePosition == buffers->receiveFill) buffers->refill = 1;
  }
  return diagStatus(diag);
}

}  // namespace volsten
