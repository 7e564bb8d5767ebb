// The socket library as the transport sees it: loaded at run time and called
// through the shapes of sys/socket_api.h.
#pragma once

#include <cstring>

#include "net/tcp/winsock.h"
#include "sys/socket_api.h"

namespace volsten::testing {

using Winsock = WinsockApi;

// The library, loaded and started through the transport's loader for the
// length of a test.
class LoadedWinsock {
 public:
  LoadedWinsock() : ok_(winsockLoad()) {}
  ~LoadedWinsock() {
    if (ok_) winsockRelease();
  }
  LoadedWinsock(const LoadedWinsock&) = delete;
  LoadedWinsock& operator=(const LoadedWinsock&) = delete;

  bool ok() const { return ok_ && winsockGetSockName() != nullptr; }
  const Winsock& ws() const { return winsockApi(); }

 private:
  bool ok_;
};

inline SysSockaddr loopback(const Winsock& ws, uint16_t port) {
  SysSockaddrIn in = {};
  in.family = kSysAfInet;
  in.port = ws.htons(port);
  in.address = ws.inetAddr("127.0.0.1");
  SysSockaddr address;
  std::memcpy(&address, &in, sizeof address);
  return address;
}

// The port (host byte order) the socket is bound to; 0 on failure.
inline uint16_t boundPort(const Winsock& ws, SysSocket s) {
  SysSockaddr address;
  int length = sizeof address;
  if (winsockGetSockName()(s, &address, &length) != 0 || length != 16) return 0;
  SysSockaddrIn in;
  std::memcpy(&in, &address, sizeof in);
  return ws.htons(in.port);  // the swap is its own inverse
}

// A listener on 127.0.0.1 at a port the system picks; kSysInvalidSocket on
// failure.
inline SysSocket openListener(const Winsock& ws, uint16_t* port) {
  SysSocket s = ws.socket(kSysAfInet, kSysSockStream, 0);
  SysSockaddr address = loopback(ws, 0);
  if (s == kSysInvalidSocket || ws.bind(s, &address, sizeof address) != 0 || ws.listen(s, 4) != 0 ||
      (*port = boundPort(ws, s)) == 0) {
    if (s != kSysInvalidSocket) ws.closeSocket(s);
    return kSysInvalidSocket;
  }
  return s;
}

// Both ends of one loopback connection, and the listener that made it.
struct Connection {
  SysSocket listener = kSysInvalidSocket;
  SysSocket client = kSysInvalidSocket;
  SysSocket server = kSysInvalidSocket;
};

inline bool openConnection(const Winsock& ws, Connection* c) {
  uint16_t port = 0;
  c->listener = openListener(ws, &port);
  if (c->listener == kSysInvalidSocket) return false;
  c->client = ws.socket(kSysAfInet, kSysSockStream, 0);
  SysSockaddr address = loopback(ws, port);
  if (c->client == kSysInvalidSocket || ws.connect(c->client, &address, sizeof address) != 0) {
    return false;
  }
  c->server = ws.accept(c->listener, nullptr, nullptr);
  return c->server != kSysInvalidSocket;
}

inline void closeConnection(const Winsock& ws, Connection* c) {
  for (SysSocket* s : {&c->listener, &c->client, &c->server}) {
    if (*s != kSysInvalidSocket) ws.closeSocket(*s);
    *s = kSysInvalidSocket;
  }
}

}  // namespace volsten::testing
