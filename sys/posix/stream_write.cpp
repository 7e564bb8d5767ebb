#include "sys/stream_write.h"

#include <unistd.h>

namespace volsten {

bool sysStreamTruncate(std::FILE* stream, int64_t size) {
  return stream != nullptr && size >= 0 && ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

}  // namespace volsten
