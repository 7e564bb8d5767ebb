// The command transport: the peer is a child process started from the
// connection string's "Command" pair (Protocol=DetachedServer). The byte
// stream goes to the child's standard input and comes back from its standard
// output, which its standard error shares. Ending a connection terminates
// the child.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "net/handle_table.h"
#include "net/transport_ops.h"
#include "sys/process.h"

namespace volsten {

// The command line buffer holds 2000 bytes with its NUL; longer commands are
// cut (warning "01004") and started as cut.
constexpr int32_t kCommandLineSize = 2000;

// A slot of the command transport's handle table. Environments use only the
// head.
struct CommandRecord {
  uint8_t type;
  uint16_t parent;
  SysHandle outputRead;   // this process's end of the child's stdout/stderr pipe
  SysHandle inputWrite;   // this process's end of the child's stdin pipe
  SysHandle writeHandle;  // what send writes to, once the child runs
  SysHandle readHandle;   // what receive reads from, once the child runs
  SysChild process;
};

// The transport's process-wide table.
HandleTable<CommandRecord>& commandHandles();

Status commandReceive(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                      int32_t* received);
Status commandSend(DiagContext* diag, int32_t connection, const char* data, int32_t length);
int32_t commandConnect(DiagContext* diag, int32_t environment, const char* text, int32_t length);
int32_t commandOpenEnvironment(DiagContext* diag);
Status commandCloseListener(DiagContext* diag, int32_t listener);
Status commandCloseConnection(DiagContext* diag, int32_t connection);
Status commandFreeEnvironment(DiagContext* diag, int32_t environment);

extern const TransportOps kCommandTransport;

// A connection over this process's own standard input and output, for a
// server that a client started as its child: receive reads standard input,
// send writes standard output. Ending it closes neither stream. 0 when the
// environment is no environment or no handle is free.
int32_t commandAdoptStandardStreams(DiagContext* diag, int32_t environment);

}  // namespace volsten
