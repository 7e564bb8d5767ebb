// The TCP transport: a byte stream over an IPv4 stream socket, with the
// socket library reached only through the run-time loaded WinsockApi.
// Clients connect from the connection string's "Host", "Port", "ServerName"
// and "ReceiveTimeout"; a listener accepts on its own thread and serves each
// accepted connection on a thread of its own with the listener's handler.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "net/handle_table.h"
#include "net/transport_ops.h"
#include "sys/socket_api.h"

namespace volsten {

// A slot of the transport's handle table. socket and closing are shared
// between the caller's thread, the listener thread and the service threads;
// they are only ever read and written atomically (tcp_records.h).
struct SocketRecord {
  uint8_t type;
  uint16_t parent;  // the environment, or the listener of an accepted connection
  SysSocket socket;  // kSysInvalidSocket while the record holds none
  int32_t receiveTimeout;  // seconds; 0 or less waits without limit
  ConnectionHandler handler;
  uintptr_t userData;
  int32_t closing;  // set once a close has begun, never cleared
};

// The transport's process-wide table.
HandleTable<SocketRecord>& tcpHandles();

Status tcpReceive(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                  int32_t* received);
Status tcpSend(DiagContext* diag, int32_t connection, const char* data, int32_t length);
int32_t tcpConnect(DiagContext* diag, int32_t environment, const char* text, int32_t length);
int32_t tcpOpenEnvironment(DiagContext* diag);
Status tcpCloseListener(DiagContext* diag, int32_t listener);
Status tcpCloseConnection(DiagContext* diag, int32_t connection);
Status tcpFreeEnvironment(DiagContext* diag, int32_t environment);

extern const TransportOps kTcpTransport;

// Listens on the connection string's "Port" (as for a client; "0" takes a
// free port) at its "Host" (the local address to bind; all interfaces
// without one) and serves every accepted connection with
// handler(connection, userData) on a thread of its own; "ReceiveTimeout"
// applies to the accepted connections. Returns the listener handle (type 2,
// parent = the environment), 0 on failure with nothing left open.
int32_t tcpListen(DiagContext* diag, int32_t environment, const char* text, int32_t length,
                  ConnectionHandler handler, uintptr_t userData);

// The port a listener is bound to, in host byte order; 0 when the handle is
// no open listener or the library cannot tell.
int32_t tcpListenerPort(DiagContext* diag, int32_t listener);

}  // namespace volsten
