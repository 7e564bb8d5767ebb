// The adapters that make, connect and close sockets.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "sys/posix/socket_address.h"
#include "sys/posix/socket_errors.h"
#include "sys/posix/socket_exports.h"
#include "sys/posix/socket_table.h"

namespace volsten {
namespace {

constexpr int kWsaEnobufs = 10055;
constexpr int kWsaEsocktnosupport = 10044;

SysSocket failSocket(int error) {
  wsaSetLastError(error);
  return kSysInvalidSocket;
}

SysSocket SYS_SOCKET_API adapterSocket(int family, int type, int protocol) {
  if (family != kSysAfInet) return failSocket(kSysWsaEafnosupport);
  if (type != kSysSockStream) return failSocket(kWsaEsocktnosupport);
  // Close-on-exec: a program the process starts must not inherit connections.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  if (fd < 0) return failSocket(wsaErrorFromErrno(errno));
  SysSocket s = socketTableAdd(fd);
  if (s == kSysInvalidSocket) {
    ::close(fd);
    return failSocket(kWsaEnobufs);
  }
  return s;
}

int SYS_SOCKET_API adapterBind(SysSocket s, const SysSockaddr* address, int length) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  sockaddr_in native;
  if (int error = nativeAddress(address, length, &native); error != 0) return wsaFail(error);
  // Winsock binds a port whose old connections still wait in TIME_WAIT; Linux
  // does so only with SO_REUSEADDR. A port with a listener stays refused.
  int on = 1;
  if (::setsockopt(use.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    return wsaFailFromErrno();
  }
  if (::bind(use.fd(), reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0) {
    return wsaFailFromErrno();
  }
  return 0;
}

int SYS_SOCKET_API adapterListen(SysSocket s, int backlog) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  return ::listen(use.fd(), backlog) == 0 ? 0 : wsaFailFromErrno();
}

// A signal interrupts connect, not the connection: it goes on, and Winsock's
// connect, which no signal interrupts, reports how it ended.
int finishInterruptedConnect(int fd) {
  pollfd watch = {fd, POLLOUT, 0};
  while (::poll(&watch, 1, -1) < 0) {
    if (errno != EINTR) return wsaFailFromErrno();
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return wsaFailFromErrno();
  return error == 0 ? 0 : wsaFail(wsaErrorFromErrno(error));
}

int SYS_SOCKET_API adapterConnect(SysSocket s, const SysSockaddr* address, int length) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  sockaddr_in native;
  if (int error = nativeAddress(address, length, &native); error != 0) return wsaFail(error);
  if (::connect(use.fd(), reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0) {
    return 0;
  }
  return errno == EINTR ? finishInterruptedConnect(use.fd()) : wsaFailFromErrno();
}

SysSocket SYS_SOCKET_API adapterAccept(SysSocket s, SysSockaddr* address, int* length) {
  SocketUse use(s);
  if (!use.held()) return failSocket(kSysWsaEnotsock);
  // Like Winsock: the length matters only when the caller wants the address.
  if (address != nullptr &&
      (length == nullptr || *length < static_cast<int>(sizeof(SysSockaddr)))) {
    return failSocket(kSysWsaEfault);
  }
  sockaddr_in peer = {};
  socklen_t size = sizeof peer;
  int fd;
  do {
    fd = ::accept4(use.fd(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return failSocket(wsaErrorFromErrno(errno));
  SysSocket accepted = socketTableAdd(fd);
  if (accepted == kSysInvalidSocket) {
    ::close(fd);
    return failSocket(kWsaEnobufs);
  }
  if (address != nullptr) {
    winsockAddress(peer, address);
    *length = sizeof(SysSockaddr);
  }
  return accepted;
}

int SYS_SOCKET_API adapterGetSockName(SysSocket s, SysSockaddr* address, int* length) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  if (address == nullptr || length == nullptr || *length < static_cast<int>(sizeof(SysSockaddr))) {
    return wsaFail(kSysWsaEfault);
  }
  sockaddr_in local = {};
  socklen_t size = sizeof local;
  if (::getsockname(use.fd(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    return wsaFailFromErrno();
  }
  winsockAddress(local, address);
  *length = sizeof(SysSockaddr);
  return 0;
}

int SYS_SOCKET_API adapterShutdown(SysSocket s, int how) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  // Winsock's SD_RECEIVE, SD_SEND and SD_BOTH.
  constexpr int kHow[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
  if (how < 0 || how > 2) return wsaFail(kSysWsaEinval);
  return ::shutdown(use.fd(), kHow[how]) == 0 ? 0 : wsaFailFromErrno();
}

int SYS_SOCKET_API adapterCloseSocket(SysSocket s) {
  // Wakes the calls blocked on it in other threads; the last of them to end
  // closes the descriptor.
  int error;
  if (!socketTableShutAndClose(s, &error)) return wsaFail(kSysWsaEnotsock);
  return error == 0 ? 0 : wsaFail(wsaErrorFromErrno(error));
}

}  // namespace

// Built on first use, not during static initialisation, whose order across
// files is unknown.
std::span<const SocketExport> socketCallExports() {
  static const SocketExport kExports[] = {
      {"socket", exportAddress(&adapterSocket)},
      {"bind", exportAddress(&adapterBind)},
      {"listen", exportAddress(&adapterListen)},
      {"connect", exportAddress(&adapterConnect)},
      {"accept", exportAddress(&adapterAccept)},
      {"getsockname", exportAddress(&adapterGetSockName)},
      {"shutdown", exportAddress(&adapterShutdown)},
      {"closesocket", exportAddress(&adapterCloseSocket)},
  };
  return kExports;
}

}  // namespace volsten
