// The connection dispatcher: the one door of the connection layer. Callers
// open an environment, connect with a connection string, write and read a
// byte stream, disconnect and free the environment; the transport is picked
// by the string's "Protocol" ("Local", "TCP" or "DetachedServer") and
// reached only through its TransportOps. Connections with the same pairs
// are shared within an environment (the pool), and each connection's
// 16192-byte send and receive buffers turn byte-sized writes and reads into
// few transport calls.
//
// One connection, with all users of a shared one, is used by one thread at
// a time; connects under one environment are made by one thread at a time.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "net/handle_table.h"
#include "net/transport_ops.h"

namespace volsten {

// Transport kinds, chosen by the value of the "Protocol" pair.
constexpr uint8_t TRANSPORT_LOCAL = 1;           // "Local": named pipes
constexpr uint8_t TRANSPORT_TCP = 2;             // "TCP"
constexpr uint8_t TRANSPORT_DETACHED_SERVER = 3;  // "DetachedServer": a child process

// A slot of the dispatcher's table; which fields count depends on the type.
struct DispatcherRecord {
  uint8_t type;
  uint16_t parent;  // 0, the environment, or the listener of an accepted connection
  uint8_t kind;     // connections and listeners
  uint8_t pooling;  // environments: 1 = share connections
  int32_t pipeEnvironment;     // environments: the transports' environment handles
  int32_t tcpEnvironment;
  int32_t commandEnvironment;
  int32_t transportHandle;  // connections and listeners: the transport's own handle
  int32_t users;            // connections: connects not yet matched by a disconnect
  ConnectionHandler handler;  // listeners
  uintptr_t userData;
};

// The dispatcher's process-wide table.
HandleTable<DispatcherRecord>& dispatcherHandles();

// Only "ConnectionPooling" is read from the string (null with length 0 is
// no string); pooling is on unless the last such pair says other than "Yes".
int32_t openEnvironment(DiagContext* diag, const char* text, int32_t length);
// users, when given, receives the connection's user count: 1 for a new
// connection, more for a shared one.
int32_t connect(DiagContext* diag, int32_t environment, const char* text, int32_t length,
                int32_t* users = nullptr);
// Buffers the bytes; a length of 0 or less pushes what is buffered to the
// transport (also when nothing is).
Status send(DiagContext* diag, int32_t connection, const char* data, int32_t length);
// Returns once all length bytes have arrived, the stream has ended (100) or
// failed; a null buffer skips the bytes.
Status receive(DiagContext* diag, int32_t connection, char* buffer, int32_t length);
Status disconnect(DiagContext* diag, int32_t connection);
Status freeEnvironment(DiagContext* diag, int32_t environment);

// Listens through the transport the string's "Protocol" picks (the rest of
// the string is the transport's) and serves every accepted connection with
// handler(connection, userData) on a thread of its own, where connection is
// a dispatcher handle for send and receive. "DetachedServer" serves this
// process's own standard input and output as its one accepted connection:
// the side of a server that a client started with "Command". Returns the
// listener handle (type 2), 0 on failure with nothing left open.
int32_t listen(DiagContext* diag, int32_t environment, const char* text, int32_t length,
               ConnectionHandler handler, uintptr_t userData);
Status closeListener(DiagContext* diag, int32_t listener);

// Test seam: the operations used for a transport kind (1..3); null puts the
// real transport back.
void dispatcherSeamSetTransport(uint8_t kind, const TransportOps* ops);

}  // namespace volsten
