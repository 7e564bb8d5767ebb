#include "sys/service_lookup.h"

// winsock2.h must come before windows.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

namespace volsten {
namespace {

using StartupFn = int(WSAAPI*)(WORD, LPWSADATA);
using CleanupFn = int(WSAAPI*)();
using LookupFn = servent*(WSAAPI*)(const char*, const char*);

class Library {
 public:
  explicit Library(const char* name) : module_(LoadLibraryA(name)) {}
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  template <typename Fn>
  Fn find(const char* name) const {
    if (module_ == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

}  // namespace

int32_t sysServicePort(const char* name, const char* protocol) {
  Library sockets("WS2_32.DLL");
  auto startup = sockets.find<StartupFn>("WSAStartup");
  auto cleanup = sockets.find<CleanupFn>("WSACleanup");
  auto lookup = sockets.find<LookupFn>("getservbyname");
  if (startup == nullptr || cleanup == nullptr || lookup == nullptr) return -1;
  WSADATA data;
  if (startup(MAKEWORD(2, 2), &data) != 0) return -1;
  const servent* entry = lookup(name, protocol);
  // s_port is in network byte order.
  int32_t port = -1;
  if (entry != nullptr) {
    auto raw = static_cast<uint16_t>(entry->s_port);
    port = static_cast<int32_t>(((raw & 0xFF) << 8) | (raw >> 8));
  }
  cleanup();
  return port;
}

}  // namespace volsten
