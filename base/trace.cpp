#include "base/trace.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace volsten {
namespace {

void discard(const char*, void*) {}

// The switch and counter are touched under some heap's mutex, but different
// heaps do not exclude each other, so they are atomic.
std::atomic<int32_t> traceSwitch{0};
std::atomic<uint32_t> requestCounter{0};

// The sink and its user pointer change together: a line is never handed to
// one sink with the other's pointer.
struct Sink {
  TraceSink write = discard;
  void* user = nullptr;
};
std::mutex sinkLock;
Sink sink;

}  // namespace

void traceSetSwitch(int32_t on) { traceSwitch = on; }

bool traceEnabled() { return traceSwitch.load(std::memory_order_relaxed) != 0; }

void traceSetSink(TraceSink newSink, void* user) {
  std::lock_guard<std::mutex> lock(sinkLock);
  sink = newSink != nullptr ? Sink{newSink, user} : Sink{};
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

// The sink is called outside the lock, so that it may itself trace or
// replace the sink.
void traceWrite(const char* line) {
  Sink current;
  {
    std::lock_guard<std::mutex> lock(sinkLock);
    current = sink;
  }
  current.write(line, current.user);
}

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
