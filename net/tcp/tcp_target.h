// Reading a connection string into the address and socket of a connection
// (or of a listener), with the records a failed lookup leaves.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "sys/socket_api.h"

namespace volsten {

struct ConnectTarget {
  SysSocket socket;        // new, not yet connected or bound
  int32_t receiveTimeout;  // seconds, 0 when not given
  SysSockaddrIn address;   // network byte order
};

// A client needs a port to reach; a listener may ask for port 0 (any free
// one), and its lookup failures name the value that was not found.
enum class TargetUse { Connect, Listen };

// "Host", "Port", "ServerName" and "ReceiveTimeout", then a new socket.
// False with the failure recorded; no socket is left open then.
bool readConnectTarget(DiagContext* diag, const char* text, int32_t length, TargetUse use,
                       ConnectTarget* target);

// The socket-error record: "TCP Verbindungsfehler ", the operation's tag and
// the Winsock error number, which is reset to 0.
void reportSocketError(DiagContext* diag, const char* tag);

}  // namespace volsten
