#include "sys/memory.h"

#include <windows.h>

#include <atomic>

#include "sys/fault.h"

namespace volsten {
namespace {
std::atomic<long> live{0};
}

void* sysSegmentAlloc(size_t bytes) {
  if (faultShouldFail(FaultPoint::SegmentAlloc)) return nullptr;
  HGLOBAL handle = GlobalAlloc(GMEM_FIXED, bytes);
  if (handle == nullptr) return nullptr;
  void* segment = GlobalLock(handle);
  if (segment == nullptr) {
    GlobalFree(handle);
    return nullptr;
  }
  ++live;
  return segment;
}

void sysSegmentFree(void* segment) {
  if (segment == nullptr) return;
  HGLOBAL handle = GlobalHandle(segment);
  GlobalUnlock(handle);
  GlobalFree(handle);
  --live;
}

long sysSegmentsLive() { return live; }

}  // namespace volsten
