// The library's start, end and error adapters, and the lookup of every
// export by name.
#include <cstring>

#include "sys/posix/socket_errors.h"
#include "sys/posix/socket_exports.h"

namespace volsten {
namespace {

constexpr uint16_t kHighestVersion = 0x0202;  // 2.2: major in the low byte

int SYS_SOCKET_API adapterGetLastError() { return wsaLastError(); }

void SYS_SOCKET_API adapterSetLastError(int error) { wsaSetLastError(error); }

// The version granted is the one asked for, at most 2.2; version 0.x does
// not exist. Nothing needs starting, so the library works without this call.
int SYS_SOCKET_API adapterStartup(uint16_t version, SysWsaData* data) {
  if (data == nullptr) return kSysWsaEfault;
  std::memset(data, 0, sizeof *data);
  data->highVersion = kHighestVersion;
  int major = version & 0xFF, minor = version >> 8;
  if (major == 0) return kSysWsaVerNotSupported;
  bool above = major > 2 || (major == 2 && minor > 2);
  data->version = above ? kHighestVersion : version;
  return 0;
}

int SYS_SOCKET_API adapterCleanup() { return 0; }

}  // namespace

void* socketLibraryExport(const char* name) {
  static const SocketExport kOwn[] = {
      {"WSAGetLastError", exportAddress(&adapterGetLastError)},
      {"WSASetLastError", exportAddress(&adapterSetLastError)},
      {"WSAStartup", exportAddress(&adapterStartup)},
      {"WSACleanup", exportAddress(&adapterCleanup)},
  };
  const std::span<const SocketExport> tables[] = {kOwn,
                                                  socketCallExports(),
                                                  socketIoExports(),
                                                  socketSelectExports(),
                                                  socketNameExports(),
                                                  socketServiceExports()};
  for (std::span<const SocketExport> table : tables) {
    for (const SocketExport& e : table) {
      if (std::strcmp(e.name, name) == 0) return e.address;
    }
  }
  return nullptr;
}

}  // namespace volsten
