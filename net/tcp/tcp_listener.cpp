// The listening side: a listener record with its listening socket, the
// listener thread that accepts, and one service thread per accepted
// connection that runs the listener's handler.
//
// Each thread holds an attachment of the table and a load of the socket
// library of its own, taken for it before it starts and given back as it
// ends: freeing the last environment while a listener or a handler still
// runs then frees neither the slots it looks up nor the functions it calls.
#include <cstdint>
#include <cstdlib>

#include "base/sync.h"
#include "net/tcp/tcp_messages.h"
#include "net/tcp/tcp_records.h"
#include "net/tcp/tcp_target.h"
#include "net/tcp/winsock.h"
#include "sys/error.h"
#include "sys/fault.h"

namespace volsten {
namespace {

// The longest queue of waiting connections the system allows.
constexpr int kBacklog = 0x7FFFFFFF;

bool holdForThread() {
  if (!tcpHandles().attach(nullptr)) return false;
  winsockLoad();  // a load is held already: this only counts
  return true;
}

void dropForThread() {
  tcpHandles().detach(nullptr);
  winsockRelease();
}

void closeSocket(SysSocket socket) {
  if (socket != kSysInvalidSocket) winsockApi().closeSocket(socket);
}

// Decided under the table's mutex, after the connection's own record is in
// the table: a close of the listener either came before (and left it
// closing) or finds the record and closes its socket.
bool listenerOpen(int32_t listener) {
  bool open = false;
  tcpHandles().withRecord(nullptr, listener, [&](SocketRecord* record) {
    open = record->type == HANDLE_LISTENER && !isClosing(record);
  });
  return open;
}

void tcpServiceThread(void* argument) {
  auto* block = static_cast<SocketRecord*>(argument);
  SocketRecord start = *block;
  std::free(block);
  HandleTable<SocketRecord>& table = tcpHandles();
  int32_t handle = table.allocate(nullptr, start);
  if (handle == 0) {
    closeSocket(start.socket);
  } else {
    if (start.handler != nullptr && listenerOpen(start.parent)) {
      start.handler(handle, start.userData);
    }
    // Only this thread releases an accepted connection's handle.
    if (SocketRecord* record = table.lookup(nullptr, handle)) {
      setClosing(record);
      closeSocket(takeSocket(record));
    }
    table.release(nullptr, handle);
  }
  dropForThread();
}

// The listener's socket, or none once a close has taken it. Looked up again
// on every call: the handle, not a pointer, is what the thread keeps.
SysSocket listeningSocket(int32_t listener) {
  SocketRecord* record = tcpHandles().lookup(nullptr, listener);
  return record == nullptr ? kSysInvalidSocket : socketOf(record);
}

// Waits for the next connection; none when the listener's socket is gone
// or accept fails other than by an interruption.
SysSocket acceptNext(int32_t listener) {
  const WinsockApi& ws = winsockApi();
  SysSocket accepted = kSysInvalidSocket;
  do {
    ws.setLastError(0);
    SysSocket socket = listeningSocket(listener);
    if (socket == kSysInvalidSocket) return kSysInvalidSocket;
    SysSockaddrIn peer{};
    int length = sizeof peer;
    accepted = ws.accept(socket, reinterpret_cast<SysSockaddr*>(&peer), &length);
  } while (accepted == kSysInvalidSocket && ws.getLastError() == kSysWsaEintr);
  return accepted;
}

// False when the listener must stop: no memory for the start block.
bool serve(int32_t listener, SysSocket accepted) {
  SocketRecord* listening = tcpHandles().lookup(nullptr, listener);
  void* memory = faultShouldFail(FaultPoint::GeneralAlloc) ? nullptr
                                                           : std::malloc(sizeof(SocketRecord));
  if (memory == nullptr || listening == nullptr) {
    std::free(memory);
    closeSocket(accepted);
    return false;
  }
  auto* block = static_cast<SocketRecord*>(memory);
  *block = SocketRecord{};
  block->type = HANDLE_CONNECTION;
  block->parent = static_cast<uint16_t>(listener);
  block->socket = accepted;
  block->receiveTimeout = listening->receiveTimeout;
  block->handler = listening->handler;
  block->userData = listening->userData;
  if (!holdForThread()) {
    closeSocket(accepted);
    std::free(block);
    return true;
  }
  if (threadStart(tcpServiceThread, 0, block) == 0) {
    closeSocket(accepted);
    std::free(block);
    dropForThread();
  }
  return true;
}

void tcpListenerThread(void* argument) {
  auto listener = static_cast<int32_t>(reinterpret_cast<intptr_t>(argument));
  if (tcpHandles().lookup(nullptr, listener) != nullptr) {
    for (SysSocket accepted = acceptNext(listener);
         accepted != kSysInvalidSocket && serve(listener, accepted);
         accepted = acceptNext(listener)) {
    }
    SocketBatch batch;
    takeListenerSockets(nullptr, listener, &batch);
    batch.closeAll();
    tcpHandles().release(nullptr, listener);
  }
  dropForThread();
}

bool bindAndListen(DiagContext* diag, const ConnectTarget& target) {
  const WinsockApi& ws = winsockApi();
  if (ws.bind(target.socket, reinterpret_cast<const SysSockaddr*>(&target.address),
              sizeof target.address) == kSysSocketError) {
    reportSocketError(diag, kTcpTagBind);
    return false;
  }
  if (ws.listen(target.socket, kBacklog) == kSysSocketError) {
    reportSocketError(diag, kTcpTagListen);
    return false;
  }
  return true;
}

void reportNotStarted(DiagContext* diag) {
  uint32_t code = sysLastError();
  char text[256];
  sysErrorText(code, text, sizeof text);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kTcpListenerNotStarted, text, nullptr);
}

}  // namespace

int32_t tcpListen(DiagContext* diag, int32_t environment, const char* text, int32_t length,
                  ConnectionHandler handler, uintptr_t userData) {
  HandleTable<SocketRecord>& table = tcpHandles();
  if (!table.checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  ConnectTarget target;
  if (!readConnectTarget(diag, text, length, TargetUse::Listen, &target)) return 0;
  if (!bindAndListen(diag, target)) {
    closeSocket(target.socket);
    return 0;
  }
  SocketRecord initial{};
  initial.type = HANDLE_LISTENER;
  initial.parent = static_cast<uint16_t>(environment);
  initial.socket = target.socket;
  initial.receiveTimeout = target.receiveTimeout;
  initial.handler = handler;
  initial.userData = userData;
  int32_t handle = table.allocate(diag, initial);
  if (handle == 0) {
    closeSocket(target.socket);
    return 0;
  }
  bool held = holdForThread();
  if (!held || threadStart(tcpListenerThread, 0, reinterpret_cast<void*>(intptr_t{handle})) == 0) {
    reportNotStarted(diag);
    if (held) dropForThread();
    SocketRecord* record = table.lookup(nullptr, handle);
    closeSocket(record != nullptr ? takeSocket(record) : kSysInvalidSocket);
    table.release(diag, handle);
    return 0;
  }
  return handle;
}

int32_t tcpListenerPort(DiagContext* diag, int32_t listener) {
  if (!tcpHandles().checkType(diag, listener, HANDLE_LISTENER)) return 0;
  SocketRecord* record = tcpHandles().lookup(diag, listener);
  SysGetSockNameFn getSockName = winsockGetSockName();
  if (record == nullptr || getSockName == nullptr) return 0;
  SysSockaddrIn local{};
  int size = sizeof local;
  SysSocket socket = socketOf(record);
  if (socket == kSysInvalidSocket ||
      getSockName(socket, reinterpret_cast<SysSockaddr*>(&local), &size) == kSysSocketError) {
    return 0;
  }
  return winsockApi().htons(local.port);  // the swap is its own inverse
}

}  // namespace volsten
