#include "sys/service_lookup.h"

#include <arpa/inet.h>
#include <netdb.h>

namespace volsten {

int32_t sysServicePort(const char* name, const char* protocol) {
  const servent* entry = getservbyname(name, protocol);
  if (entry == nullptr) return -1;
  return static_cast<int32_t>(ntohs(static_cast<uint16_t>(entry->s_port)));
}

}  // namespace volsten
