// Appending to a file opened as a C stream so that the append reaches the
// disk whole or not at all.
#pragma once

#include <cstdint>
#include <cstdio>

#include "sys/fault.h"

namespace volsten {

// Writes text at the end of the file under stream, as the C runtime's text
// mode writes it (each line feed becomes CR LF on Windows), and forces it to
// the disk before returning. The bytes go to the file directly, not through
// the stream's buffer, which must hold no unwritten data: nothing of them is
// left for a later close to write. *sizeBefore receives the file's size
// before the append, or -1 when nothing was written. False when the write
// or the sync failed; the caller undoes the part that may have arrived
// (sysFileCutBack under the file's lock). Armed fault points: StreamWrite
// writes half of the text and fails; StreamSync fails the sync.
bool sysFileAppend(std::FILE* stream, const char* text, int64_t* sizeBefore);

// fclose; false when it failed. An armed StreamClose fault closes the stream
// and reports a failure.
inline bool sysStreamClose(std::FILE* stream) {
  bool closed = std::fclose(stream) == 0;
  return !faultShouldFail(FaultPoint::StreamClose) && closed;
}

}  // namespace volsten
