#include "sys/service_lookup.h"

#include "sys/library.h"
#include "sys/socket_api.h"

namespace volsten {
namespace {

class Library {
 public:
  explicit Library(const char* name) : library_(sysLibraryLoad(name)) {}
  ~Library() {
    if (library_ != nullptr) sysLibraryFree(library_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  template <typename Fn>
  Fn find(const char* name) const {
    return library_ == nullptr ? nullptr : reinterpret_cast<Fn>(sysLibraryExport(library_, name));
  }

 private:
  SysLibrary library_;
};

}  // namespace

int32_t sysServicePort(const char* name, const char* protocol) {
  Library sockets("WS2_32.DLL");
  auto startup = sockets.find<SysWsaStartupFn>("WSAStartup");
  auto cleanup = sockets.find<SysWsaCleanupFn>("WSACleanup");
  auto lookup = sockets.find<SysGetServByNameFn>("getservbyname");
  if (startup == nullptr || cleanup == nullptr || lookup == nullptr) return -1;
  SysWsaData data;
  if (startup(0x0202, &data) != 0) return -1;
  const SysServent* entry = lookup(name, protocol);
  // The port is in network byte order.
  int32_t port = -1;
  if (entry != nullptr) {
    auto raw = static_cast<uint16_t>(entry->port);
    port = static_cast<int32_t>(((raw & 0xFF) << 8) | (raw >> 8));
  }
  cleanup();
  return port;
}

}  // namespace volsten
