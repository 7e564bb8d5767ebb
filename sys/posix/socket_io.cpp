// The adapters that move data and set socket options.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "sys/posix/socket_errors.h"
#include "sys/posix/socket_exports.h"
#include "sys/posix/socket_table.h"

namespace volsten {
namespace {

constexpr int kWsaEnoprotoopt = 10042;
constexpr int kWsaEopnotsupp = 10045;
constexpr int kWsaMsgOob = 1;
constexpr int kWsaMsgPeek = 2;

// Winsock's flag bits as native ones; false when a bit has no counterpart.
bool nativeFlags(int flags, int allowed, int* native) {
  if ((flags & ~allowed) != 0) return false;
  *native = ((flags & kWsaMsgOob) != 0 ? MSG_OOB : 0) | ((flags & kWsaMsgPeek) != 0 ? MSG_PEEK : 0);
  return true;
}

int SYS_SOCKET_API adapterRecv(SysSocket s, char* buffer, int length, int flags) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  if (length < 0) return wsaFail(kSysWsaEinval);
  int native;
  if (!nativeFlags(flags, kWsaMsgOob | kWsaMsgPeek, &native)) return wsaFail(kWsaEopnotsupp);
  ssize_t n;
  do {
    n = ::recv(use.fd(), buffer, static_cast<size_t>(length), native);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? wsaFailFromErrno() : static_cast<int>(n);
}

int SYS_SOCKET_API adapterSend(SysSocket s, const char* data, int length, int flags) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  if (length < 0) return wsaFail(kSysWsaEinval);
  int native;
  if (!nativeFlags(flags, kWsaMsgOob, &native)) return wsaFail(kWsaEopnotsupp);
  // MSG_NOSIGNAL: a peer that is gone must not kill the process with
  // SIGPIPE; Winsock reports it as an error, and so does this.
  ssize_t n;
  do {
    n = ::send(use.fd(), data, static_cast<size_t>(length), native | MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? wsaFailFromErrno() : static_cast<int>(n);
}

struct IntOption {
  int level;
  int option;
  int nativeLevel;
  int nativeOption;
};

constexpr IntOption kIntOptions[] = {
    {kSysSolSocket, kSysSoReuseAddr, SOL_SOCKET, SO_REUSEADDR},
    {kSysSolSocket, kSysSoKeepAlive, SOL_SOCKET, SO_KEEPALIVE},
    {kSysSolSocket, kSysSoSendBuffer, SOL_SOCKET, SO_SNDBUF},
    {kSysSolSocket, kSysSoReceiveBuffer, SOL_SOCKET, SO_RCVBUF},
    {kSysIpProtoTcp, kSysTcpNoDelay, IPPROTO_TCP, TCP_NODELAY},
};

int setLinger(int fd, const char* value, int length) {
  if (length < static_cast<int>(sizeof(SysLinger))) return wsaFail(kSysWsaEfault);
  SysLinger given;
  std::memcpy(&given, value, sizeof given);
  linger native = {given.onOff != 0 ? 1 : 0, given.seconds};
  return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &native, sizeof native) == 0 ? 0
                                                                              : wsaFailFromErrno();
}

int SYS_SOCKET_API adapterSetSockOpt(SysSocket s, int level, int option, const char* value,
                                     int length) {
  SocketUse use(s);
  if (!use.held()) return wsaFail(kSysWsaEnotsock);
  if (value == nullptr) return wsaFail(kSysWsaEfault);
  if (level == kSysSolSocket && option == kSysSoLinger) return setLinger(use.fd(), value, length);
  for (const IntOption& o : kIntOptions) {
    if (o.level != level || o.option != option) continue;
    if (length < static_cast<int>(sizeof(int))) return wsaFail(kSysWsaEfault);
    int given;  // the caller's bytes need not be aligned
    std::memcpy(&given, value, sizeof given);
    return ::setsockopt(use.fd(), o.nativeLevel, o.nativeOption, &given, sizeof given) == 0
               ? 0
               : wsaFailFromErrno();
  }
  return wsaFail(kWsaEnoprotoopt);
}

}  // namespace

std::span<const SocketExport> socketIoExports() {
  static const SocketExport kExports[] = {
      {"recv", exportAddress(&adapterRecv)},
      {"send", exportAddress(&adapterSend)},
      {"setsockopt", exportAddress(&adapterSetSockOpt)},
  };
  return kExports;
}

}  // namespace volsten
