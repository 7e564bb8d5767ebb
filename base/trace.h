// The heap's trace hook. Lines are formatted only while the process-wide trace
// switch is set; no operation of the runtime sets it. Tests switch it on and
// capture the lines through a sink of their own.
#pragma once

#include <cstdint>

namespace volsten {

using TraceSink = void (*)(const char* line, void* user);

void traceSetSwitch(int32_t on);
bool traceEnabled();

// Replaces the sink that receives formatted lines; null restores the default
// sink, which discards them.
void traceSetSink(TraceSink sink, void* user);

// Counts one traced request and returns its number (the first is 1).
uint32_t traceNextRequest();

// The address as upper-case hexadecimal digits, most significant first:
// eight digits on 32-bit targets, sixteen on 64-bit ones.
constexpr int kPointerNameSize = 2 * sizeof(void*) + 1;
void pointerName(const void* address, char (&name)[kPointerNameSize]);

// Hands a formatted line to the sink.
void traceWrite(const char* line);

}  // namespace volsten

namespace volsten {

// Formats one line printf-style (at most 255 characters) and hands it to the
// sink; callers check traceEnabled() first so nothing is formatted while the
// switch is off.
void traceFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace volsten
