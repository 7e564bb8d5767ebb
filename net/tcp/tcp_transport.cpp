#include "net/tcp/tcp_transport.h"

#include <cstring>

#include "net/tcp/tcp_messages.h"
#include "net/tcp/tcp_records.h"
#include "net/tcp/tcp_target.h"
#include "net/tcp/winsock.h"

namespace volsten {
namespace {

HandleTable<SocketRecord> table;

// A closed connection's data waits up to 60 seconds to be delivered.
constexpr uint16_t kLingerSeconds = 60;

SocketRecord* recordOfType(DiagContext* diag, int32_t handle, uint8_t type) {
  if (!table.checkType(diag, handle, type)) return nullptr;
  return table.lookup(diag, handle);
}

void storeCount(int32_t* received, int32_t count) {
  if (received != nullptr) *received = count;
}

}  // namespace

HandleTable<SocketRecord>& tcpHandles() { return table; }

void SocketBatch::closeAll() {
  const WinsockApi& ws = winsockApi();
  for (int32_t i = 0; i < count_; ++i) ws.closeSocket(sockets_[i]);
  count_ = 0;
}

void takeListenerSockets(DiagContext* diag, int32_t listener, SocketBatch* batch) {
  SysSocket own = kSysInvalidSocket;
  table.forEachInUse(diag, [&](SocketRecord* record, int32_t handle) {
    if (record->type == HANDLE_CONNECTION && record->parent == listener) {
      setClosing(record);
      batch->add(takeSocket(record));
    } else if (handle == listener && record->type == HANDLE_LISTENER) {
      setClosing(record);
      own = takeSocket(record);
    }
  });
  batch->add(own);
}

Status tcpReceive(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                  int32_t* received) {
  SocketRecord* record = recordOfType(diag, connection, HANDLE_CONNECTION);
  if (record == nullptr) return transportStatus(diag, STATUS_ERROR);
  if (isClosing(record)) {
    diagSetStatus(diag, STATUS_NO_DATA);
    storeCount(received, 0);
    return transportStatus(diag, STATUS_NO_DATA);
  }
  const WinsockApi& ws = winsockApi();
  // A read into no room would come back as 0 bytes, which reads as a peer
  // that closed; it is refused as Winsock refuses an invalid argument.
  if (buffer == nullptr || capacity <= 0) {
    ws.setLastError(kSysWsaEinval);
    reportSocketError(diag, kTcpTagReceive);
    storeCount(received, -1);
    return transportStatus(diag, STATUS_ERROR);
  }
  SysSocket socket = socketOf(record);
  SysFdSet readable{};
  readable.count = 1;
  readable.sockets[0] = socket;
  SysTimeval limit{record->receiveTimeout, 0};
  int ready = ws.select(static_cast<int>(socket + 1), &readable, nullptr, nullptr,
                        record->receiveTimeout > 0 ? &limit : nullptr);
  int32_t count = 0;
  Status outcome = STATUS_SUCCESS;
  if (ready == 0) {
    diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kTcpTimeout, nullptr, nullptr);
    outcome = STATUS_ERROR;
  } else if (ready > 0) {
    count = ws.recv(socket, buffer, capacity, 0);
  } else {
    count = -1;
  }
  if (count == 0 && ready > 0) {
    diagSetStatus(diag, STATUS_NO_DATA);
    outcome = STATUS_NO_DATA;
  } else if (count < 0) {
    if (isClosing(record)) {
      diagSetStatus(diag, STATUS_NO_DATA);
      outcome = STATUS_NO_DATA;
    } else {
      reportSocketError(diag, kTcpTagReceive);
      outcome = STATUS_ERROR;
    }
    count = -1;
  }
  storeCount(received, count);
  return transportStatus(diag, outcome);
}

Status tcpSend(DiagContext* diag, int32_t connection, const char* data, int32_t length) {
  SocketRecord* record = recordOfType(diag, connection, HANDLE_CONNECTION);
  if (record == nullptr) return transportStatus(diag, STATUS_ERROR);
  if (isClosing(record)) return transportStatus(diag, STATUS_SUCCESS);
  if (winsockApi().send(socketOf(record), data, length, 0) == kSysSocketError &&
      !isClosing(record)) {
    reportSocketError(diag, kTcpTagSend);
    return transportStatus(diag, STATUS_ERROR);
  }
  return transportStatus(diag, STATUS_SUCCESS);
}

int32_t tcpConnect(DiagContext* diag, int32_t environment, const char* text, int32_t length) {
  if (!table.checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  ConnectTarget target;
  if (!readConnectTarget(diag, text, length, TargetUse::Connect, &target)) return 0;
  const WinsockApi& ws = winsockApi();
  SocketRecord initial{};
  initial.type = HANDLE_CONNECTION;
  initial.parent = static_cast<uint16_t>(environment);
  initial.socket = target.socket;
  initial.receiveTimeout = target.receiveTimeout;
  int32_t handle = table.allocate(diag, initial);
  if (handle == 0) {
    ws.closeSocket(target.socket);
    return 0;
  }
  SysLinger linger{1, kLingerSeconds};
  ws.setSockOpt(target.socket, kSysSolSocket, kSysSoLinger, reinterpret_cast<const char*>(&linger),
                sizeof linger);
  if (ws.connect(target.socket, reinterpret_cast<const SysSockaddr*>(&target.address),
                 sizeof target.address) == kSysSocketError) {
    reportSocketError(diag, kTcpTagConnect);
    ws.closeSocket(target.socket);
    table.release(diag, handle);
    return 0;
  }
  return handle;
}

int32_t tcpOpenEnvironment(DiagContext* diag) {
  if (!winsockLoad()) return 0;
  if (!table.attach(diag)) {
    winsockRelease();
    return 0;
  }
  SocketRecord initial{};
  initial.type = HANDLE_ENVIRONMENT;
  initial.socket = kSysInvalidSocket;
  int32_t handle = table.allocate(diag, initial);
  if (handle == 0) {
    table.detach(diag);
    winsockRelease();
  }
  return handle;
}

Status tcpCloseListener(DiagContext* diag, int32_t listener) {
  if (recordOfType(diag, listener, HANDLE_LISTENER) == nullptr) return transportStatus(diag, STATUS_ERROR);
  // The listener's thread finds its socket gone, ends and releases the
  // handle; the accepted connections' threads release theirs.
  SocketBatch batch;
  takeListenerSockets(diag, listener, &batch);
  batch.closeAll();
  return transportStatus(diag, STATUS_SUCCESS);
}

Status tcpCloseConnection(DiagContext* diag, int32_t connection) {
  if (recordOfType(diag, connection, HANDLE_CONNECTION) == nullptr) {
    return transportStatus(diag, STATUS_ERROR);
  }
  SocketBatch batch;
  table.withRecord(diag, connection, [&](SocketRecord* record) {
    if (record->type != HANDLE_CONNECTION) return;
    setClosing(record);
    batch.add(takeSocket(record));
    releaseClientConnection(table, diag, connection, record);
  });
  batch.closeAll();
  return transportStatus(diag, STATUS_SUCCESS);
}

Status tcpFreeEnvironment(DiagContext* diag, int32_t environment) {
  if (table.lookup(diag, environment) == nullptr ||
      !table.checkType(diag, environment, HANDLE_ENVIRONMENT)) {
    return transportStatus(diag, STATUS_ERROR);
  }
  int32_t listeners[kHandleCount];
  int32_t listenerCount = 0;
  SocketBatch batch;
  table.forEachInUse(diag, [&](SocketRecord* record, int32_t handle) {
    if (record->parent != environment) return;
    if (record->type == HANDLE_LISTENER) {
      listeners[listenerCount++] = handle;
    } else if (record->type == HANDLE_CONNECTION) {
      setClosing(record);
      batch.add(takeSocket(record));
      table.release(diag, handle);
    }
  });
  for (int32_t i = 0; i < listenerCount; ++i) takeListenerSockets(diag, listeners[i], &batch);
  batch.closeAll();
  table.release(diag, environment);
  table.detach(diag);
  winsockRelease();
  return transportStatus(diag, STATUS_SUCCESS);
}

const TransportOps kTcpTransport = {
    tcpReceive,         tcpSend,          tcpConnect,         tcpOpenEnvironment,
    tcpCloseListener,   tcpCloseConnection, tcpFreeEnvironment,
};

}  // namespace volsten
