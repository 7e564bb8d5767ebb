// The socket library, loaded at run time and never linked: one process-wide
// table of its functions, filled from the first of "WS2_32.DLL",
// "WSOCK32.DLL" and "WSOCK32N.DLL" that loads. A load count lets every TCP
// environment (and every listener and service thread) share one load.
#pragma once

#include <cstdint>

#include "sys/library.h"
#include "sys/socket_api.h"

namespace volsten {

// The functions in the order the library's exports are resolved. Exactly
// one of stringToAddress and getHostByName may be missing.
struct WinsockApi {
  SysLibrary library;
  int32_t started;
  int32_t loadCount;
  SysWsaGetLastErrorFn getLastError;
  SysWsaSetLastErrorFn setLastError;
  SysWsaStartupFn startup;
  SysWsaCleanupFn cleanup;
  SysWsaStringToAddressFn stringToAddress;
  SysGetHostByNameFn getHostByName;
  SysInetAddrFn inetAddr;
  SysGetServByNameFn getServByName;
  SysGetServByPortFn getServByPort;
  SysSocketFn socket;
  SysBindFn bind;
  SysListenFn listen;
  SysShutdownFn shutdown;
  SysCloseSocketFn closeSocket;
  SysAcceptFn accept;
  SysConnectFn connect;
  SysRecvFn recv;
  SysSelectFn select;
  SysSendFn send;
  SysSetSockOptFn setSockOpt;
  SysHtonsFn htons;
};

// The Winsock version asked for first: 0x03E8 (major 232, minor 3), which
// every library answers with the highest version it has.
constexpr uint16_t kWinsockVersion = 0x03E8;
inline constexpr char kWinsockStartupCaption[] = "VOLSTEN - INET Startup Error";

// True when the table is usable; every true is matched by one
// winsockRelease. A library that cannot be started is shown to the user in a
// message box with the error number. Safe to call from any thread.
bool winsockLoad();
void winsockRelease();

// Loads not yet released; read under the load lock.
int32_t winsockLoadCount();

// The table; its functions may be called only between a successful
// winsockLoad and its release.
const WinsockApi& winsockApi();

// The calling thread's Winsock error in decimal, then reset to 0.
void winsockErrorText(char* buffer, int32_t size);

// The library's getsockname, which the table does not hold; null when the
// loaded library has none.
SysGetSockNameFn winsockGetSockName();

}  // namespace volsten
