// Writing to a file through a C stream so that a failed write can be undone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "sys/fault.h"

namespace volsten {

// Writes text at the stream's position and flushes it to the system. False
// when not all of it reached the file. An armed FaultPoint::StreamWrite
// writes only the first half and fails, as a disk that fills up does.
inline bool sysStreamWrite(std::FILE* stream, const char* text) {
  if (faultShouldFail(FaultPoint::StreamWrite)) {
    std::fwrite(text, 1, std::strlen(text) / 2, stream);
    std::fflush(stream);
    return false;
  }
  return std::fputs(text, stream) >= 0 && std::fflush(stream) == 0;
}

// Cuts the file under the stream back to size bytes. The stream must hold no
// unwritten data.
bool sysStreamTruncate(std::FILE* stream, int64_t size);

}  // namespace volsten
