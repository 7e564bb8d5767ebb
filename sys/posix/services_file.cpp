#include "sys/posix/services_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sys/ascii_compare.h"

namespace volsten {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The next token of the line, NUL-terminated in place; null at the end.
char* nextToken(char** at) {
  char* p = *at;
  while (isBlank(*p)) ++p;
  if (*p == '\0') return nullptr;
  char* start = p;
  while (*p != '\0' && !isBlank(*p)) ++p;
  if (*p != '\0') *p++ = '\0';
  *at = p;
  return start;
}

// "port/protocol" with a port of 0 to 65535 and a protocol.
bool parsePortProtocol(char* text, int* port, const char** protocol) {
  int value = 0, digits = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (++digits > 5) return false;
    value = value * 10 + (*text - '0');
  }
  if (digits == 0 || value > 0xFFFF || *text != '/' || text[1] == '\0') return false;
  *port = value;
  *protocol = text + 1;
  return true;
}

// Matches one line, which it cuts into tokens.
bool matchLine(char* line, const ServiceQuery& query, bool (*keep)(const ServiceMatch&),
               bool* kept) {
  if (char* comment = std::strchr(line, '#')) *comment = '\0';
  char* at = line;
  const char* name = nextToken(&at);
  char* portProtocol = name != nullptr ? nextToken(&at) : nullptr;
  ServiceMatch match = {name, 0, nullptr, nullptr, 0};
  if (portProtocol == nullptr || !parsePortProtocol(portProtocol, &match.port, &match.protocol)) {
    return false;
  }
  if (query.protocol != nullptr && !sysSameAsciiText(query.protocol, match.protocol)) return false;
  bool found = query.name != nullptr ? sysSameAsciiText(query.name, name) : query.port == match.port;
  const char* aliases[kMaxServiceAliases];
  while (const char* alias = nextToken(&at)) {
    if (match.aliasCount < kMaxServiceAliases) aliases[match.aliasCount++] = alias;
    if (query.name != nullptr && sysSameAsciiText(query.name, alias)) found = true;
  }
  if (!found) return false;
  match.aliases = aliases;
  *kept = keep(match);
  return true;
}

}  // namespace

bool findInServicesFile(const char* path, const ServiceQuery& query,
                        bool (*keep)(const ServiceMatch& match)) {
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  // getline grows the line as needed: a line of any length is read whole.
  char* line = nullptr;
  size_t size = 0;
  bool kept = false;
  while (::getline(&line, &size, file) >= 0) {
    if (matchLine(line, query, keep, &kept)) break;
  }
  std::free(line);
  std::fclose(file);
  return kept;
}

}  // namespace volsten
