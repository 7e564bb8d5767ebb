#include "sys/stream_write.h"

#include <io.h>

namespace volsten {

// _chsize is in every msvcrt.dll; the streams it serves measure in long.
bool sysStreamTruncate(std::FILE* stream, int64_t size) {
  if (stream == nullptr || size < 0 || size > 0x7FFFFFFF) return false;
  return _chsize(_fileno(stream), static_cast<long>(size)) == 0;
}

}  // namespace volsten
