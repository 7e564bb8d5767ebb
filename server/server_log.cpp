#include "server/server_log.h"

#include <cstdarg>
#include <cstdio>

namespace volsten {

void serverLog(const char* format, ...) {
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  // One write per line, so lines of several connections never interleave.
  std::fprintf(stderr, "volsten-server: %s\n", line);
}

}  // namespace volsten
