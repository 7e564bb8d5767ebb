// The dispatcher's listening side: listener records over a transport's
// listener, and the accept handler that serves each accepted connection
// under a dispatcher handle of its own.
#include <cstdint>

#include "base/sync.h"
#include "net/command/command_transport.h"
#include "net/dispatch/connection_buffers.h"
#include "net/dispatch/dispatcher_internal.h"
#include "net/pipe/pipe_transport.h"
#include "net/tcp/tcp_transport.h"
#include "sys/error.h"

namespace volsten {
namespace {

HandleTable<DispatcherRecord>& table() { return dispatcherHandles(); }

// The command transport's own text: the detached server could not begin
// to serve its standard streams.
inline constexpr char kNotStarted[] = "Verbindungsfehler (connect): ";

// Runs on the transport's connection thread, without a context: the
// connection gets a dispatcher handle for as long as the listener's handler
// serves it. The transport closes its own connection afterwards.
void acceptHandler(int32_t transportConnection, uintptr_t listenerHandle) {
  auto listener = static_cast<int32_t>(listenerHandle);
  if (!table().attach(nullptr)) return;
  DispatcherRecord owner{};
  table().withRecord(nullptr, listener, [&](DispatcherRecord* record) { owner = *record; });
  int32_t handle = 0;
  if (owner.type == HANDLE_LISTENER) {
    DispatcherRecord initial{};
    initial.type = HANDLE_CONNECTION;
    initial.parent = static_cast<uint16_t>(listener);
    initial.kind = owner.kind;
    initial.transportHandle = transportConnection;
    handle = table().allocate(nullptr, initial);
  }
  if (handle != 0) {
    buffersAttach(handle, nullptr);
    if (owner.handler != nullptr) owner.handler(handle, owner.userData);
    // A reply the handler left in the buffer still goes out.
    ConnectionBuffers* buffers = buffersOf(handle);
    const TransportOps* ops = transportOf(owner.kind);
    if (buffers != nullptr && ops != nullptr && buffers->sendFill > 0) {
      bufferedSend(nullptr, buffers, *ops, transportConnection, nullptr, 0);
    }
    buffersFree(handle);
    table().release(nullptr, handle);
  }
  table().detach(nullptr);
}

// The one accepted connection of a detached server: this process's own
// standard input and output, served on a thread of its own under a command
// environment of its own, so that freeing the listener's environment never
// ends a connection the thread still uses.
void serveStandardStreams(void* argument) {
  auto listener = static_cast<int32_t>(reinterpret_cast<intptr_t>(argument));
  int32_t environment = commandOpenEnvironment(nullptr);
  int32_t connection = environment != 0 ? commandAdoptStandardStreams(nullptr, environment) : 0;
  if (connection != 0) acceptHandler(connection, static_cast<uintptr_t>(listener));
  if (environment != 0) commandFreeEnvironment(nullptr, environment);
}

// Starts the transport's listening side for the record; *transportListener
// is the transport's listener (none for a detached server). False on
// failure, recorded by the transport or here.
bool startListening(DiagContext* diag, const DispatcherRecord& environment, int32_t listener,
                    uint8_t kind, const char* text, int32_t length, int32_t* transportListener) {
  auto user = static_cast<uintptr_t>(listener);
  *transportListener = 0;
  switch (kind) {
    case TRANSPORT_LOCAL:
      *transportListener =
          pipeListen(diag, environment.pipeEnvironment, text, length, acceptHandler, user);
      return *transportListener != 0;
    case TRANSPORT_TCP:
      *transportListener =
          tcpListen(diag, environment.tcpEnvironment, text, length, acceptHandler, user);
      return *transportListener != 0;
    default: break;
  }
  if (threadStart(serveStandardStreams, 0, reinterpret_cast<void*>(intptr_t{listener})) != 0) {
    return true;
  }
  char reason[1024];
  sysErrorText(sysLastError(), reason, sizeof reason);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kNotStarted, reason, nullptr);
  return false;
}

}  // namespace

int32_t listen(DiagContext* diag, int32_t environment, const char* text, int32_t length,
               ConnectionHandler handler, uintptr_t userData) {
  DispatcherRecord* record = table().lookup(diag, environment);
  if (record == nullptr || !table().checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  DispatcherRecord owner = *record;
  uint8_t kind = chooseProtocol(diag, text, length);
  if (kind == 0) return 0;
  DispatcherRecord initial{};
  initial.type = HANDLE_LISTENER;
  initial.parent = static_cast<uint16_t>(environment);
  initial.kind = kind;
  initial.handler = handler;
  initial.userData = userData;
  int32_t handle = table().allocate(diag, initial);
  if (handle == 0) return 0;
  int32_t transportListener = 0;
  if (!startListening(diag, owner, handle, kind, text, length, &transportListener)) {
    table().release(diag, handle);
    return 0;
  }
  table().withRecord(nullptr, handle,
                     [&](DispatcherRecord* slot) { slot->transportHandle = transportListener; });
  return handle;
}

void closeListenerRecord(DiagContext* diag, int32_t listener) {
  DispatcherRecord* record = table().lookup(diag, listener);
  if (record == nullptr) return;
  DispatcherRecord owner = *record;
  // The accepted connections' handles belong to their threads, which
  // release them when their handlers return; the transport's close ends
  // the handlers' streams.
  // A detached server's standard input cannot be interrupted: its thread
  // finds the listener gone when it next looks, or serves until the input
  // ends.
  const TransportOps* ops = transportOf(owner.kind);
  if (owner.kind != TRANSPORT_DETACHED_SERVER && ops != nullptr) {
    ops->closeListener(diag, owner.transportHandle);
  }
  table().release(diag, listener);
}

Status closeListener(DiagContext* diag, int32_t listener) {
  if (table().checkType(diag, listener, HANDLE_LISTENER)) closeListenerRecord(diag, listener);
  return diagStatus(diag);
}

}  // namespace volsten
