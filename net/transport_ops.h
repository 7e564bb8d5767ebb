// The seven operations every transport offers the dispatcher, in this
// order. Each takes the caller's DiagContext first and reports failures as
// records there. Handles are the transport's own, from its own HandleTable.
#pragma once

#include <cstdint>

#include "base/diag.h"

namespace volsten {

// Called on a connection's own thread for every connection a listener
// accepts; the handler serves it with the transport's receive and send while
// it runs, and the transport closes it when the handler returns. userData is
// the listener's, handed on unchanged.
using ConnectionHandler = void (*)(int32_t connection, uintptr_t userData);

// The status an operation ends with. Without a context no record carries
// a failure, so the outcome itself is the status: a caller reading a closed
// stream must see it end.
inline Status transportStatus(DiagContext* diag, Status outcome) {
  return diag != nullptr ? diagStatus(diag) : outcome;
}

struct TransportOps {
  // Places up to capacity bytes; an error or no data (100) ends the stream,
  // otherwise *received counts the bytes placed (0: try again).
  Status (*receive)(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                    int32_t* received);
  Status (*send)(DiagContext* diag, int32_t connection, const char* data, int32_t length);
  // The whole connection string: the transport reads its own keys. 0 when
  // the connection could not be made.
  int32_t (*connect)(DiagContext* diag, int32_t environment, const char* text, int32_t length);
  int32_t (*openEnvironment)(DiagContext* diag);
  Status (*closeListener)(DiagContext* diag, int32_t listener);
  // Ends the connection and frees its handle.
  Status (*closeConnection)(DiagContext* diag, int32_t connection);
  // Closes every listener and connection of the environment, then frees it.
  Status (*freeEnvironment)(DiagContext* diag, int32_t environment);
};

}  // namespace volsten
