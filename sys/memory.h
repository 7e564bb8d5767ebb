// Fixed segment memory: blocks that stay at their address until released.
#pragma once

#include <cstddef>

namespace volsten {

// Null when the system (or an armed FaultPoint::SegmentAlloc) refuses.
void* sysSegmentAlloc(size_t bytes);
void sysSegmentFree(void* segment);

// Segments handed out and not yet released, process-wide (for leak checks).
long sysSegmentsLive();

}  // namespace volsten
