#include "net/pipe/pipe_transport.h"

#include "net/pipe/pipe_messages.h"
#include "net/pipe/pipe_records.h"
#include "sys/error.h"

namespace volsten {
namespace {

// Each wait for a free instance of a busy pipe lasts up to 5 seconds; there
// is no limit on the number of waits.
constexpr uint32_t kBusyWaitMs = 5000;

PipeRecord* recordOfType(DiagContext* diag, int32_t handle, uint8_t type) {
  if (!pipeHandles().checkType(diag, handle, type)) return nullptr;
  return pipeHandles().lookup(diag, handle);
}

void storeCount(int32_t* received, int32_t count) {
  if (received != nullptr) *received = count;
}

// A read into no room would come back as 0 bytes, which reads as a peer
// that closed, and a negative length is no length: both are refused as the
// system refuses an invalid parameter.
Status refuseInvalid(DiagContext* diag, const char* tag) {
  sysSetLastError(sysInvalidParameterCode());
  reportPipeError(diag, tag);
  return transportStatus(diag, STATUS_ERROR);
}

Status noData(DiagContext* diag, int32_t* received) {
  diagSetStatus(diag, STATUS_NO_DATA);
  storeCount(received, 0);
  return transportStatus(diag, STATUS_NO_DATA);
}

}  // namespace

Status pipeReceive(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                   int32_t* received) {
  PipeRecord* record = recordOfType(diag, connection, HANDLE_CONNECTION);
  if (record == nullptr) return transportStatus(diag, STATUS_ERROR);
  SysNamedPipe pipe = pipeOf(record);
  if (isClosing(record) || pipe == kSysNoNamedPipe) return noData(diag, received);
  if (buffer == nullptr || capacity <= 0) {
    storeCount(received, 0);
    return refuseInvalid(diag, kPipeTagReceive);
  }
  uint32_t count = 0;
  switch (sysNamedPipeRead(pipe, buffer, static_cast<uint32_t>(capacity), &count)) {
    case SysPipeIo::Done:
    case SysPipeIo::PeerGone:
      break;
    case SysPipeIo::Failed:
      // A close that has begun is why an immediate failure happened.
      if (isClosing(record)) break;
      [[fallthrough]];
    case SysPipeIo::FailedAfterWait:
      reportPipeError(diag, kPipeTagReceive);
      storeCount(received, 0);
      return transportStatus(diag, STATUS_ERROR);
  }
  if (count == 0) return noData(diag, received);
  storeCount(received, static_cast<int32_t>(count));
  return transportStatus(diag, STATUS_SUCCESS);
}

Status pipeSend(DiagContext* diag, int32_t connection, const char* data, int32_t length) {
  PipeRecord* record = recordOfType(diag, connection, HANDLE_CONNECTION);
  if (record == nullptr) return transportStatus(diag, STATUS_ERROR);
  SysNamedPipe pipe = pipeOf(record);
  if (isClosing(record) || pipe == kSysNoNamedPipe) return transportStatus(diag, STATUS_SUCCESS);
  if (length < 0 || (data == nullptr && length > 0)) return refuseInvalid(diag, kPipeTagSend);
  if (sysNamedPipeWrite(pipe, data, static_cast<uint32_t>(length)) != SysPipeIo::Done &&
      !isClosing(record)) {
    reportPipeError(diag, kPipeTagSend);
    return transportStatus(diag, STATUS_ERROR);
  }
  return transportStatus(diag, STATUS_SUCCESS);
}

int32_t pipeConnect(DiagContext* diag, int32_t environment, const char* text, int32_t length) {
  HandleTable<PipeRecord>& table = pipeHandles();
  if (!table.checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  char name[kPipeNameSize];
  if (!readPipeName(diag, text, length, name)) return 0;
  PipeRecord initial{};
  initial.type = HANDLE_CONNECTION;
  initial.parent = static_cast<uint16_t>(environment);
  initial.pipe = kSysNoNamedPipe;
  int32_t handle = table.allocate(diag, initial);
  if (handle == 0) return 0;
  SysNamedPipe pipe = kSysNoNamedPipe;
  SysPipeOpen outcome;
  do {
    outcome = sysNamedPipeOpen(name, kBusyWaitMs, &pipe);
  } while (outcome == SysPipeOpen::TryAgain);
  if (outcome == SysPipeOpen::Failed) {
    reportPipeError(diag, kPipeTagConnect);
    table.release(diag, handle);
    return 0;
  }
  // The environment may have been freed during a long wait; the end is then
  // closed here instead of being left in a slot that is no longer ours.
  bool stored = false;
  table.withRecord(nullptr, handle, [&](PipeRecord* record) {
    stored = record->type == HANDLE_CONNECTION && !isClosing(record);
    if (stored) putPipe(record, pipe);
  });
  if (!stored) {
    sysNamedPipeClose(pipe);
    return 0;
  }
  return handle;
}

int32_t pipeOpenEnvironment(DiagContext* diag) {
  HandleTable<PipeRecord>& table = pipeHandles();
  if (!moduleHold(diag)) return 0;
  if (!table.attach(diag)) {
    moduleDrop();
    return 0;
  }
  PipeRecord initial{};
  initial.type = HANDLE_ENVIRONMENT;
  initial.pipe = kSysNoNamedPipe;
  int32_t handle = table.allocate(diag, initial);
  if (handle == 0) {
    table.detach(diag);
    moduleDrop();
  }
  return handle;
}

Status pipeCloseListener(DiagContext* diag, int32_t listener) {
  if (recordOfType(diag, listener, HANDLE_LISTENER) == nullptr) return transportStatus(diag, STATUS_ERROR);
  // The accepted connections are flushed, disconnected and closed before
  // the listener's own instance; their threads release their handles, and
  // the listener's thread, woken by the close, releases the listener's.
  PipeBatch connections(PipeEnd::FlushDisconnectClose);
  PipeBatch own(PipeEnd::Close);
  {
    ModuleLock lock;
    takeListenerPipes(listener, &connections, &own);
  }
  connections.endAll();
  own.endAll();
  return transportStatus(diag, STATUS_SUCCESS);
}

Status pipeCloseConnection(DiagContext* diag, int32_t connection) {
  HandleTable<PipeRecord>& table = pipeHandles();
  if (recordOfType(diag, connection, HANDLE_CONNECTION) == nullptr) {
    return transportStatus(diag, STATUS_ERROR);
  }
  PipeBatch taken(PipeEnd::Close);
  {
    ModuleLock lock;
    table.withRecord(diag, connection, [&](PipeRecord* record) {
      if (record->type != HANDLE_CONNECTION) return;
      setClosing(record);
      taken.add(takePipe(record));
      releaseClientConnection(table, diag, connection, record);
    });
  }
  taken.endAll();
  return transportStatus(diag, STATUS_SUCCESS);
}

Status pipeFreeEnvironment(DiagContext* diag, int32_t environment) {
  HandleTable<PipeRecord>& table = pipeHandles();
  if (table.lookup(diag, environment) == nullptr ||
      !table.checkType(diag, environment, HANDLE_ENVIRONMENT)) {
    return transportStatus(diag, STATUS_ERROR);
  }
  PipeBatch clients(PipeEnd::Close);
  PipeBatch accepted(PipeEnd::FlushDisconnectClose);
  PipeBatch instances(PipeEnd::Close);
  {
    ModuleLock lock;
    int32_t listeners[kHandleCount];
    int32_t listenerCount = 0;
    table.forEachInUse(diag, [&](PipeRecord* record, int32_t handle) {
      if (record->parent != environment) return;
      if (record->type == HANDLE_LISTENER) {
        listeners[listenerCount++] = handle;
      } else if (record->type == HANDLE_CONNECTION) {
        setClosing(record);
        clients.add(takePipe(record));
        table.release(diag, handle);
      }
    });
    for (int32_t i = 0; i < listenerCount; ++i) {
      takeListenerPipes(listeners[i], &accepted, &instances);
    }
  }
  clients.endAll();
  accepted.endAll();
  instances.endAll();
  table.release(diag, environment);
  table.detach(diag);
  moduleDrop();
  return transportStatus(diag, STATUS_SUCCESS);
}

const TransportOps kPipeTransport = {
    pipeReceive,       pipeSend,           pipeConnect,         pipeOpenEnvironment,
    pipeCloseListener, pipeCloseConnection, pipeFreeEnvironment,
};

}  // namespace volsten
