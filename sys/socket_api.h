// The shapes of the socket library that is loaded at run time: Winsock's
// types, constants and function signatures, written out here so that no
// code above this layer includes a socket header. On Windows the library is
// the real WS2_32 (or WSOCK32); on POSIX it is the C library's BSD sockets
// behind adapters of these very shapes, so one loader and one transport run
// on both.
#pragma once

#include <cstdint>

// Winsock functions use the stdcall convention on 32-bit Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define SYS_SOCKET_API __stdcall
#else
#define SYS_SOCKET_API
#endif

namespace volsten {

// A socket: pointer-sized, all bits set for none.
using SysSocket = uintptr_t;
constexpr SysSocket kSysInvalidSocket = ~SysSocket{0};
constexpr int kSysSocketError = -1;

constexpr int kSysAfInet = 2;
constexpr int kSysSockStream = 1;
constexpr int kSysSolSocket = 0xFFFF;
constexpr int kSysSoReuseAddr = 0x0004;
constexpr int kSysSoKeepAlive = 0x0008;
constexpr int kSysSoLinger = 0x0080;
constexpr int kSysSoSendBuffer = 0x1001;
constexpr int kSysSoReceiveBuffer = 0x1002;
constexpr int kSysIpProtoTcp = 6;
constexpr int kSysTcpNoDelay = 1;
constexpr int kSysShutdownBoth = 2;
constexpr uint32_t kSysInaddrNone = 0xFFFFFFFFu;
constexpr int kSysFdSetSize = 64;

// Winsock error numbers the system itself names or sets.
constexpr int kSysWsaEintr = 10004;
constexpr int kSysWsaEbadf = 10009;
constexpr int kSysWsaEfault = 10014;
constexpr int kSysWsaEinval = 10022;
constexpr int kSysWsaEnotsock = 10038;
constexpr int kSysWsaEafnosupport = 10047;
constexpr int kSysWsaEaddrinuse = 10048;
constexpr int kSysWsaEconnreset = 10054;
constexpr int kSysWsaEtimedout = 10060;
constexpr int kSysWsaEconnrefused = 10061;
constexpr int kSysWsaVerNotSupported = 10092;
constexpr int kSysWsaHostNotFound = 11001;
constexpr int kSysWsaNoData = 11004;

// sockaddr and sockaddr_in: family, then (for IPv4) the port and the address
// in network byte order and eight zero bytes; 16 bytes either way.
struct SysSockaddr {
  uint16_t family;
  char data[14];
};
struct SysSockaddrIn {
  uint16_t family;
  uint16_t port;
  uint32_t address;
  uint8_t zero[8];
};
static_assert(sizeof(SysSockaddrIn) == 16 && sizeof(SysSockaddr) == 16);

struct SysHostent {
  char* name;
  char** aliases;
  int16_t addressType;
  int16_t addressLength;
  char** addresses;
};

// Winsock's servent orders its last two fields by the data model.
#if UINTPTR_MAX > 0xFFFFFFFFu
struct SysServent {
  char* name;
  char** aliases;
  char* protocol;
  int16_t port;  // network byte order
};
#else
struct SysServent {
  char* name;
  char** aliases;
  int16_t port;  // network byte order
  char* protocol;
};
#endif

struct SysFdSet {
  uint32_t count;
  SysSocket sockets[kSysFdSetSize];
};

// Winsock's timeval holds two 32-bit longs.
struct SysTimeval {
  int32_t seconds;
  int32_t microseconds;
};

// Winsock's linger: two 16-bit fields, 4 bytes.
struct SysLinger {
  uint16_t onOff;
  uint16_t seconds;
};
static_assert(sizeof(SysLinger) == 4);

// WSADATA: the versions come first on every data model; the rest is room
// for the library's description and limits, which nothing here reads.
struct SysWsaData {
  uint16_t version;
  uint16_t highVersion;
  unsigned char rest[412];
};

using SysWsaGetLastErrorFn = int(SYS_SOCKET_API*)();
using SysWsaSetLastErrorFn = void(SYS_SOCKET_API*)(int error);
using SysWsaStartupFn = int(SYS_SOCKET_API*)(uint16_t version, SysWsaData* data);
using SysWsaCleanupFn = int(SYS_SOCKET_API*)();
using SysWsaStringToAddressFn = int(SYS_SOCKET_API*)(char* text, int family, void* protocolInfo,
                                                     SysSockaddr* address, int* length);
using SysGetHostByNameFn = SysHostent*(SYS_SOCKET_API*)(const char* name);
using SysInetAddrFn = uint32_t(SYS_SOCKET_API*)(const char* text);
using SysGetServByNameFn = SysServent*(SYS_SOCKET_API*)(const char* name, const char* protocol);
using SysGetServByPortFn = SysServent*(SYS_SOCKET_API*)(int port, const char* protocol);
using SysSocketFn = SysSocket(SYS_SOCKET_API*)(int family, int type, int protocol);
using SysBindFn = int(SYS_SOCKET_API*)(SysSocket s, const SysSockaddr* address, int length);
using SysListenFn = int(SYS_SOCKET_API*)(SysSocket s, int backlog);
using SysShutdownFn = int(SYS_SOCKET_API*)(SysSocket s, int how);
using SysCloseSocketFn = int(SYS_SOCKET_API*)(SysSocket s);
using SysAcceptFn = SysSocket(SYS_SOCKET_API*)(SysSocket s, SysSockaddr* address, int* length);
using SysConnectFn = int(SYS_SOCKET_API*)(SysSocket s, const SysSockaddr* address, int length);
using SysRecvFn = int(SYS_SOCKET_API*)(SysSocket s, char* buffer, int length, int flags);
using SysSelectFn = int(SYS_SOCKET_API*)(int count, SysFdSet* read, SysFdSet* write,
                                         SysFdSet* except, const SysTimeval* timeout);
using SysSendFn = int(SYS_SOCKET_API*)(SysSocket s, const char* data, int length, int flags);
using SysSetSockOptFn = int(SYS_SOCKET_API*)(SysSocket s, int level, int option,
                                             const char* value, int length);
using SysHtonsFn = uint16_t(SYS_SOCKET_API*)(uint16_t value);
// Not among the exports the loader needs: the local address of a bound
// socket, which tells a listener on port 0 the port it got.
using SysGetSockNameFn = int(SYS_SOCKET_API*)(SysSocket s, SysSockaddr* address, int* length);

}  // namespace volsten
