// The adapters for addresses and host names.
#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sys/posix/scratch_buffer.h"
#include "sys/posix/socket_errors.h"
#include "sys/posix/socket_exports.h"

namespace volsten {
namespace {

constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kMaxAddresses = 16;
constexpr size_t kMaxHostScratch = 64 * 1024;
constexpr size_t kMaxName = 255;  // DNS names hold at most 253 characters

uint32_t SYS_SOCKET_API adapterInetAddr(const char* text) {
  return text == nullptr ? kSysInaddrNone : ::inet_addr(text);
}

uint16_t SYS_SOCKET_API adapterHtons(uint16_t value) { return htons(value); }

int SYS_SOCKET_API adapterStringToAddress(char* text, int family, void*, SysSockaddr* address,
                                          int* length) {
  if (text == nullptr || address == nullptr || length == nullptr) return wsaFail(kSysWsaEfault);
  if (family != kSysAfInet) return wsaFail(kSysWsaEinval);
  if (*length < static_cast<int>(sizeof(SysSockaddrIn))) {
    *length = sizeof(SysSockaddrIn);
    return wsaFail(kSysWsaEfault);
  }
  in_addr parsed;
  if (::inet_pton(AF_INET, text, &parsed) != 1) return wsaFail(kSysWsaEinval);
  SysSockaddrIn in = {};
  in.family = kSysAfInet;
  in.address = parsed.s_addr;
  std::memcpy(address, &in, sizeof in);
  *length = sizeof in;
  return 0;
}

// Winsock's hostent and the storage it points into, one per thread as
// Winsock keeps it.
struct HostResult {
  SysHostent entry;
  char name[kMaxName + 1];
  char* aliases[1];
  char addresses[kMaxAddresses][4];
  char* addressList[kMaxAddresses + 1];
};

thread_local HostResult hostResult;
thread_local ScratchBuffer hostScratch;

int wsaHostError(int error) {
  switch (error) {
    case HOST_NOT_FOUND: return kSysWsaHostNotFound;
    case TRY_AGAIN: return kWsaTryAgain;
    case NO_DATA: return kSysWsaNoData;
    default: return kWsaNoRecovery;
  }
}

SysHostent* failHost(int error) {
  wsaSetLastError(error);
  return nullptr;
}

SysHostent* keepHost(const hostent& found) {
  HostResult& r = hostResult;
  r = HostResult{};
  const char* name = found.h_name != nullptr ? found.h_name : "";
  size_t n = std::min(std::strlen(name), kMaxName);
  std::memcpy(r.name, name, n);
  int count = 0;
  for (; count < kMaxAddresses && found.h_addr_list[count] != nullptr; ++count) {
    std::memcpy(r.addresses[count], found.h_addr_list[count], 4);
    r.addressList[count] = r.addresses[count];
  }
  r.entry = SysHostent{r.name, r.aliases, kSysAfInet, 4, r.addressList};
  return &r.entry;
}

SysHostent* SYS_SOCKET_API adapterGetHostByName(const char* name) {
  if (name == nullptr) return failHost(kSysWsaEfault);
  if (std::strlen(name) > kMaxName) return failHost(kSysWsaHostNotFound);
  if (!hostScratch.reserve(1024)) return failHost(kWsaNoRecovery);
  for (;;) {
    hostent entry;
    hostent* found = nullptr;
    int error = 0;
    int rc =
        ::gethostbyname_r(name, &entry, hostScratch.data(), hostScratch.size(), &found, &error);
    if (rc == ERANGE) {
      if (hostScratch.size() >= kMaxHostScratch || !hostScratch.reserve(hostScratch.size() * 2)) {
        return failHost(kWsaNoRecovery);
      }
      continue;
    }
    if (found == nullptr) return failHost(wsaHostError(error));
    if (found->h_addrtype != AF_INET || found->h_length != 4) return failHost(kSysWsaNoData);
    return keepHost(*found);
  }
}

}  // namespace

std::span<const SocketExport> socketNameExports() {
  static const SocketExport kExports[] = {
      {"inet_addr", exportAddress(&adapterInetAddr)},
      {"htons", exportAddress(&adapterHtons)},
      {"WSAStringToAddressA", exportAddress(&adapterStringToAddress)},
      {"gethostbyname", exportAddress(&adapterGetHostByName)},
  };
  return kExports;
}

}  // namespace volsten
