// Winsock's IPv4 socket address and the native one, field by field: the
// layouts differ between systems (BSD's carry a length byte), the bytes of
// the port and the address do not.
#pragma once

#include <netinet/in.h>

#include "sys/socket_api.h"

namespace volsten {

// 0, or the Winsock error for an address that is too short or not IPv4.
int nativeAddress(const SysSockaddr* address, int length, sockaddr_in* out);
// Stores the native address as Winsock's, 16 bytes.
void winsockAddress(const sockaddr_in& address, SysSockaddr* out);

}  // namespace volsten
