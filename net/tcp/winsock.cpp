#include "net/tcp/winsock.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "sys/message_box.h"

namespace volsten {
namespace {

constexpr std::array<const char*, 3> kLibraries = {"WS2_32.DLL", "WSOCK32.DLL", "WSOCK32N.DLL"};

// Export names in table order.
constexpr std::array<const char*, 21> kExports = {
    "WSAGetLastError", "WSASetLastError", "WSAStartup",    "WSACleanup", "WSAStringToAddressA",
    "gethostbyname",   "inet_addr",       "getservbyname", "getservbyport", "socket",
    "bind",            "listen",          "shutdown",      "closesocket", "accept",
    "connect",         "recv",            "select",        "send",        "setsockopt",
    "htons"};
constexpr size_t kStringToAddress = 4;
constexpr size_t kGetHostByName = 5;

WinsockApi api = {};
SysGetSockNameFn getSockName = nullptr;
// Loads and releases may come from any thread: the caller's, or a listener
// or service thread ending.
std::mutex loadLock;

template <typename Fn>
Fn as(void* address) {
  return reinterpret_cast<Fn>(address);
}

void fill(const std::array<void*, kExports.size()>& f) {
  api.getLastError = as<SysWsaGetLastErrorFn>(f[0]);
  api.setLastError = as<SysWsaSetLastErrorFn>(f[1]);
  api.startup = as<SysWsaStartupFn>(f[2]);
  api.cleanup = as<SysWsaCleanupFn>(f[3]);
  api.stringToAddress = as<SysWsaStringToAddressFn>(f[4]);
  api.getHostByName = as<SysGetHostByNameFn>(f[5]);
  api.inetAddr = as<SysInetAddrFn>(f[6]);
  api.getServByName = as<SysGetServByNameFn>(f[7]);
  api.getServByPort = as<SysGetServByPortFn>(f[8]);
  api.socket = as<SysSocketFn>(f[9]);
  api.bind = as<SysBindFn>(f[10]);
  api.listen = as<SysListenFn>(f[11]);
  api.shutdown = as<SysShutdownFn>(f[12]);
  api.closeSocket = as<SysCloseSocketFn>(f[13]);
  api.accept = as<SysAcceptFn>(f[14]);
  api.connect = as<SysConnectFn>(f[15]);
  api.recv = as<SysRecvFn>(f[16]);
  api.select = as<SysSelectFn>(f[17]);
  api.send = as<SysSendFn>(f[18]);
  api.setSockOpt = as<SysSetSockOptFn>(f[19]);
  api.htons = as<SysHtonsFn>(f[20]);
}

// Resolves every export; false when one that is needed is missing.
bool resolve(SysLibrary library) {
  std::array<void*, kExports.size()> found{};
  bool complete = true;
  for (size_t i = 0; i < kExports.size(); ++i) {
    found[i] = sysLibraryExport(library, kExports[i]);
    bool eitherName = i == kStringToAddress || i == kGetHostByName;
    if (found[i] == nullptr && !eitherName) complete = false;
  }
  if (found[kStringToAddress] == nullptr && found[kGetHostByName] == nullptr) complete = false;
  fill(found);
  getSockName = as<SysGetSockNameFn>(sysLibraryExport(library, "getsockname"));
  return complete;
}

bool start() {
  SysWsaData data;
  std::memset(&data, 0, sizeof data);
  if (api.startup(kWinsockVersion, &data) == 0) return true;
  // The library said which version it has instead.
  if (api.startup(data.highVersion, &data) == 0) return true;
  char number[32];
  winsockErrorText(number, 30);
  sysMessageBox(number, kWinsockStartupCaption);
  return false;
}

// A load that failed gives its library back: every failed attempt would
// otherwise keep one more reference to it for the life of the process.
void unload() {
  if (api.library != nullptr) sysLibraryFree(api.library);
  api = WinsockApi{};
  getSockName = nullptr;
}

}  // namespace

bool winsockLoad() {
  std::lock_guard<std::mutex> hold(loadLock);
  if (api.loadCount != 0) {
    ++api.loadCount;
    return true;
  }
  for (const char* name : kLibraries) {
    api.library = sysLibraryLoad(name);
    if (api.library != nullptr) break;
  }
  if (api.library == nullptr) return false;
  if (!resolve(api.library) || !start()) {
    unload();
    return false;
  }
  api.started = 1;
  api.loadCount = 1;
  return true;
}

void winsockRelease() {
  std::lock_guard<std::mutex> hold(loadLock);
  // A release without a load would drive the count below zero and make
  // the next load skip the library.
  if (api.loadCount <= 0) return;
  if (--api.loadCount > 0) return;
  if (api.started != 0) api.cleanup();
  unload();
}

int32_t winsockLoadCount() {
  std::lock_guard<std::mutex> hold(loadLock);
  return api.loadCount;
}

const WinsockApi& winsockApi() { return api; }

SysGetSockNameFn winsockGetSockName() { return getSockName; }

void winsockErrorText(char* buffer, int32_t size) {
  if (buffer == nullptr || size <= 0) return;
  int error = api.getLastError();
  api.setLastError(0);
  std::snprintf(buffer, static_cast<size_t>(size), "%d", error);
}

}  // namespace volsten
