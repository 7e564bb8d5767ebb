#include "base/trace.h"

#include <atomic>
#include <cstdint>

namespace volsten {
namespace {

void discard(const char*, void*) {}

// The switch and counter are touched under some heap's mutex, but different
// heaps do not exclude each other, so they are atomic.
std::atomic<int32_t> traceSwitch{0};
std::atomic<uint32_t> requestCounter{0};
std::atomic<TraceSink> sink{discard};
std::atomic<void*> sinkUser{nullptr};

}  // namespace

void traceSetSwitch(int32_t on) { traceSwitch = on; }

bool traceEnabled() { return traceSwitch.load(std::memory_order_relaxed) != 0; }

void traceSetSink(TraceSink newSink, void* user) {
  sinkUser = user;
  sink = newSink != nullptr ? newSink : discard;
}

uint32_t traceNextRequest() { return ++requestCounter; }

void pointerName(const void* address, char (&name)[kPointerNameSize]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  uintptr_t value = reinterpret_cast<uintptr_t>(address);
  for (int i = kPointerNameSize - 2; i >= 0; --i) {
    name[i] = kDigits[value & 0xF];
    value >>= 4;
  }
  name[kPointerNameSize - 1] = '\0';
}

void traceWrite(const char* line) { sink.load()(line, sinkUser.load()); }

}  // namespace volsten

#include <cstdarg>
#include <cstdio>

namespace volsten {

void traceFormat(const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  line[sizeof line - 1] = '\0';
  traceWrite(line);
}

}  // namespace volsten
