// Asks the system's services database for a service's port, the way a
// network client does. The socket library is loaded at run time on Windows,
// never imported.
#pragma once

#include <cstdint>

namespace volsten {

// The port (host byte order) of the service for the protocol, or -1 when the
// database has no such entry or the socket library is not available.
int32_t sysServicePort(const char* name, const char* protocol);

}  // namespace volsten
