#include "sys/posix/socket_address.h"

#include <cstring>

namespace volsten {

int nativeAddress(const SysSockaddr* address, int length, sockaddr_in* out) {
  if (address == nullptr || length < static_cast<int>(sizeof(SysSockaddrIn))) {
    return kSysWsaEfault;
  }
  SysSockaddrIn in;
  std::memcpy(&in, address, sizeof in);
  if (in.family != kSysAfInet) return kSysWsaEafnosupport;
  *out = sockaddr_in{};
  out->sin_family = AF_INET;
  out->sin_port = in.port;
  out->sin_addr.s_addr = in.address;
  return 0;
}

void winsockAddress(const sockaddr_in& address, SysSockaddr* out) {
  SysSockaddrIn in = {};
  in.family = kSysAfInet;
  in.port = address.sin_port;
  in.address = address.sin_addr.s_addr;
  std::memcpy(out, &in, sizeof in);
}

}  // namespace volsten
