// The local pipe transport: a byte stream over a named pipe of this machine
// (a Unix-domain socket on POSIX), whose full name a client takes from the
// connection string's "Path". A listener keeps one instance waiting for a
// client on its own thread and serves each connected instance on a thread
// of its own with the listener's handler.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "net/handle_table.h"
#include "net/transport_ops.h"
#include "sys/named_pipe.h"

namespace volsten {

// A slot of the transport's handle table. pipe and closing are shared
// between the caller's thread, the listener thread and the service threads;
// they are only ever read and written atomically (pipe_records.h).
struct PipeRecord {
  uint8_t type;
  uint16_t parent;  // the environment, or the listener of an accepted connection
  ConnectionHandler handler;  // a listener's, copied into its connections
  uintptr_t userData;
  SysNamedPipe pipe;  // kSysNoNamedPipe while the record holds none
  int32_t closing;    // set once a close has begun, never cleared
};

// The transport's process-wide table.
HandleTable<PipeRecord>& pipeHandles();

Status pipeReceive(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                   int32_t* received);
Status pipeSend(DiagContext* diag, int32_t connection, const char* data, int32_t length);
int32_t pipeConnect(DiagContext* diag, int32_t environment, const char* text, int32_t length);
int32_t pipeOpenEnvironment(DiagContext* diag);
Status pipeCloseListener(DiagContext* diag, int32_t listener);
Status pipeCloseConnection(DiagContext* diag, int32_t connection);
Status pipeFreeEnvironment(DiagContext* diag, int32_t environment);

extern const TransportOps kPipeTransport;

// Listens on the connection string's "Path" and serves every client with
// handler(connection, userData) on a thread of its own. The pipe is created
// anew: a name already in use is refused. Returns the listener handle
// (type 2, parent = the environment), 0 on failure with nothing left open.
int32_t pipeListen(DiagContext* diag, int32_t environment, const char* text, int32_t length,
                   ConnectionHandler handler, uintptr_t userData);

// Holds on the module lock: one per open environment and one per running
// listener or service thread. The lock exists exactly while this is above 0.
int32_t pipeModuleHolds();

}  // namespace volsten
