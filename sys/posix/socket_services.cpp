// The adapters for the services database. Normally the C library answers;
// when the test seam moves the system directory, the services file there is
// read instead, the file the project's own tool writes under that seam.
#include <arpa/inet.h>
#include <netdb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sys/posix/scratch_buffer.h"
#include "sys/posix/services_file.h"
#include "sys/posix/socket_errors.h"
#include "sys/posix/socket_exports.h"
#include "sys/seam.h"

namespace volsten {
namespace {

constexpr int kWsaEnobufs = 10055;
constexpr size_t kMaxScratch = 64 * 1024;

// Winsock's servent and the storage it points into, one per thread.
struct ServiceResult {
  SysServent entry;
  char* aliases[kMaxServiceAliases + 1];
};

thread_local ServiceResult serviceResult;
thread_local ScratchBuffer serviceText;
thread_local ScratchBuffer serviceScratch;

// Copies the match into this thread's result.
bool keepService(const ServiceMatch& match) {
  size_t size = std::strlen(match.name) + std::strlen(match.protocol) + 2;
  for (int i = 0; i < match.aliasCount; ++i) size += std::strlen(match.aliases[i]) + 1;
  if (!serviceText.reserve(size)) return false;
  char* at = serviceText.data();
  auto copy = [&at](const char* text) {
    char* start = at;
    size_t n = std::strlen(text) + 1;
    std::memcpy(at, text, n);
    at += n;
    return start;
  };
  ServiceResult& r = serviceResult;
  r = ServiceResult{};
  r.entry.name = copy(match.name);
  r.entry.protocol = copy(match.protocol);
  for (int i = 0; i < match.aliasCount; ++i) r.aliases[i] = copy(match.aliases[i]);
  r.entry.aliases = r.aliases;
  r.entry.port = static_cast<int16_t>(htons(static_cast<uint16_t>(match.port)));
  return true;
}

SysServent* failService(int error) {
  wsaSetLastError(error);
  return nullptr;
}

// The services file when the system directory is redirected: true then,
// with *path empty when the directory is too long to name a file in.
bool redirectedServicesFile(char (&path)[600]) {
  char directory[512];
  bool copied = false;
  if (!sysSeamDirectory(SysDirectory::System, directory, sizeof directory, &copied)) return false;
  path[0] = '\0';
  if (copied) std::snprintf(path, sizeof path, "%s/services", directory);
  return true;
}

bool keepNative(const servent& found) {
  const char* aliases[kMaxServiceAliases];
  int count = 0;
  for (; count < kMaxServiceAliases && found.s_aliases != nullptr &&
         found.s_aliases[count] != nullptr;
       ++count) {
    aliases[count] = found.s_aliases[count];
  }
  int port = ntohs(static_cast<uint16_t>(found.s_port));
  return keepService(ServiceMatch{found.s_name, port, found.s_proto, aliases, count});
}

// The C library's lookup, with its scratch space grown as it asks.
SysServent* nativeLookup(const ServiceQuery& query) {
  if (!serviceScratch.reserve(1024)) return failService(kWsaEnobufs);
  for (;;) {
    servent entry;
    servent* found = nullptr;
    char* scratch = serviceScratch.data();
    size_t size = serviceScratch.size();
    int rc = query.name != nullptr
                 ? ::getservbyname_r(query.name, query.protocol, &entry, scratch, size, &found)
                 : ::getservbyport_r(static_cast<int>(htons(static_cast<uint16_t>(query.port))),
                                     query.protocol, &entry, scratch, size, &found);
    if (rc == ERANGE && size < kMaxScratch && serviceScratch.reserve(size * 2)) continue;
    if (rc != 0 || found == nullptr) return failService(kSysWsaNoData);
    return keepNative(*found) ? &serviceResult.entry : failService(kWsaEnobufs);
  }
}

SysServent* lookup(const ServiceQuery& query) {
  char path[600];
  if (!redirectedServicesFile(path)) return nativeLookup(query);
  // Read afresh each time: the tests rewrite the file between lookups.
  if (path[0] == '\0' || !findInServicesFile(path, query, &keepService)) {
    return failService(kSysWsaNoData);
  }
  return &serviceResult.entry;
}

SysServent* SYS_SOCKET_API adapterGetServByName(const char* name, const char* protocol) {
  if (name == nullptr) return failService(kSysWsaEfault);
  return lookup(ServiceQuery{name, 0, protocol});
}

// The port comes in network byte order, as Winsock takes it.
SysServent* SYS_SOCKET_API adapterGetServByPort(int port, const char* protocol) {
  return lookup(ServiceQuery{nullptr, ntohs(static_cast<uint16_t>(port)), protocol});
}

}  // namespace

std::span<const SocketExport> socketServiceExports() {
  static const SocketExport kExports[] = {
      {"getservbyname", exportAddress(&adapterGetServByName)},
      {"getservbyport", exportAddress(&adapterGetServByPort)},
  };
  return kExports;
}

}  // namespace volsten
