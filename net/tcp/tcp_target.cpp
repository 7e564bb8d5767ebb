#include "net/tcp/tcp_target.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/list.h"
#include "base/str.h"
#include "net/connection_string.h"
#include "net/tcp/tcp_messages.h"
#include "net/tcp/winsock.h"

namespace volsten {
namespace {

constexpr uint32_t kScratchHeapCapacity = 2048;
// Each value holds up to 127 characters; a longer one is cut ("01004").
constexpr int32_t kValueSize = 128;
inline constexpr char kDefaultService[] = "volsten";
inline constexpr char kServiceProtocol[] = "tcp";

struct TargetText {
  char host[kValueSize] = {};
  char port[kValueSize] = {};
  char timeout[kValueSize] = {};
};

// A decimal number the way strtol reads one (leading blanks and a sign, up
// to the first non-digit, 0 without digits), held to 32 bits.
int32_t decimal(const char* text) {
  errno = 0;
  long value = std::strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool onlyDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// Walks the pairs in order; for a repeated key the last one counts, and
// "ServerName" counts only while no host has been set.
void readPairs(DiagContext* diag, KeyedList* pairs, TargetText* out) {
  for (void* item = listMove(pairs, LIST_FIRST, nullptr); item != nullptr;
       item = listMove(pairs, LIST_NEXT, nullptr)) {
    const auto* pair = static_cast<const ConnectionPair*>(item);
    if (pair->key == nullptr || pair->value == nullptr) continue;
    char* to = nullptr;
    if (std::strcmp(pair->key, "Port") == 0) {
      to = out->port;
    } else if (std::strcmp(pair->key, "Host") == 0) {
      to = out->host;
    } else if (std::strcmp(pair->key, "ServerName") == 0) {
      if (out->host[0] == '\0') to = out->host;
    } else if (std::strcmp(pair->key, "ReceiveTimeout") == 0) {
      to = out->timeout;
    }
    if (to != nullptr) strCopy(diag, to, kValueSize, pair->value, NTS);
  }
}

void reportUndefined(DiagContext* diag, const char* what, const char* value) {
  const WinsockApi& ws = winsockApi();
  ws.setLastError(0);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, what, value, nullptr);
}

// A dotted address is used as it is; anything else is a name to look up.
// A library without gethostbyname finds no names.
bool resolveHost(DiagContext* diag, const char* host, TargetUse use, SysSockaddrIn* address) {
  if (host[0] == '\0') return true;  // 0.0.0.0
  const WinsockApi& ws = winsockApi();
  uint32_t dotted = ws.inetAddr(host);
  if (dotted != kSysInaddrNone) {
    address->address = dotted;
    return true;
  }
  const SysHostent* entry = nullptr;
  if (ws.getHostByName != nullptr) {
    entry = ws.getHostByName(host);
  } else {
    ws.setLastError(kSysWsaHostNotFound);
  }
  // Only a four-byte IPv4 address fits the address field.
  if (entry != nullptr && entry->addressLength == 4 && entry->addresses != nullptr &&
      entry->addresses[0] != nullptr) {
    std::memcpy(&address->address, entry->addresses[0], 4);
    return true;
  }
  if (entry != nullptr) ws.setLastError(kSysWsaHostNotFound);
  if (use == TargetUse::Listen) {
    reportUndefined(diag, kTcpHostUndefined, host);
  } else {
    reportSocketError(diag, kTcpTagConnect);
  }
  return false;
}

// A service name, a port known by number, or a number. Numbers outside
// 1..65535 name no port (they are not cut to 16 bits, which would reach an
// unrelated port); a listener may ask for 0, any free port.
bool resolvePort(DiagContext* diag, const char* port, TargetUse use, SysSockaddrIn* address) {
  const WinsockApi& ws = winsockApi();
  if (const SysServent* entry = ws.getServByName(port, kServiceProtocol)) {
    ws.setLastError(0);
    address->port = static_cast<uint16_t>(entry->port);
    return true;
  }
  int32_t value = decimal(port);
  bool inRange = value > 0 && value <= 65535;
  if (inRange) {
    const SysServent* entry =
        ws.getServByPort(ws.htons(static_cast<uint16_t>(value)), kServiceProtocol);
    if (entry != nullptr) ws.setLastError(0);
    address->port = entry != nullptr ? static_cast<uint16_t>(entry->port)
                                     : ws.htons(static_cast<uint16_t>(value));
    return true;
  }
  if (use == TargetUse::Listen && value == 0 && onlyDigits(port)) {
    ws.setLastError(0);
    address->port = 0;
    return true;
  }
  if (use == TargetUse::Listen) {
    reportUndefined(diag, kTcpPortUndefined, port);
  } else {
    reportSocketError(diag, kTcpTagConnect);
  }
  return false;
}

bool resolve(DiagContext* diag, TracedHeap* heap, const char* text, int32_t length, TargetUse use,
             ConnectTarget* target) {
  KeyedList* pairs = diagListCreate(diag, heap);
  if (pairs == nullptr) return false;
  parseConnectionString(diag, heap, pairs, text, length);
  TargetText values;
  readPairs(diag, pairs, &values);
  target->receiveTimeout = decimal(values.timeout);
  if (values.port[0] == '\0') std::memcpy(values.port, kDefaultService, sizeof kDefaultService);
  target->address.family = kSysAfInet;
  return resolveHost(diag, values.host, use, &target->address) &&
         resolvePort(diag, values.port, use, &target->address);
}

}  // namespace

void reportSocketError(DiagContext* diag, const char* tag) {
  char number[32];
  winsockErrorText(number, sizeof number);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kTcpConnectionError, tag, number);
}

bool readConnectTarget(DiagContext* diag, const char* text, int32_t length, TargetUse use,
                       ConnectTarget* target) {
  std::memset(target, 0, sizeof *target);
  target->socket = kSysInvalidSocket;
  TracedHeap* heap = diagHeapCreate(diag, kScratchHeapCapacity);
  if (heap == nullptr) return false;
  bool resolved = resolve(diag, heap, text, length, use, target);
  diagHeapDestroy(heap);
  if (!resolved) return false;
  target->socket = winsockApi().socket(kSysAfInet, kSysSockStream, 0);
  if (target->socket == kSysInvalidSocket) {
    reportSocketError(diag, kTcpTagSocket);
    return false;
  }
  return true;
}

}  // namespace volsten
