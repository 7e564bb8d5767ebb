#include "sys/memory.h"

#include <atomic>
#include <cstdlib>

#include "sys/fault.h"

namespace volsten {
namespace {
std::atomic<long> live{0};
}

void* sysSegmentAlloc(size_t bytes) {
  if (faultShouldFail(FaultPoint::SegmentAlloc)) return nullptr;
  void* segment = std::malloc(bytes);
  if (segment != nullptr) ++live;
  return segment;
}

void sysSegmentFree(void* segment) {
  if (segment == nullptr) return;
  std::free(segment);
  --live;
}

long sysSegmentsLive() { return live; }

}  // namespace volsten
