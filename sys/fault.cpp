#include "sys/fault.h"

#include <array>
#include <atomic>

#include "sys/error.h"

namespace volsten {
namespace {

struct Countdown {
  std::atomic<bool> armed{false};
  std::atomic<bool> persistent{false};
  std::atomic<int> remaining{0};  // successes still allowed
  std::atomic<bool> fired{false};
};

std::array<Countdown, static_cast<int>(FaultPoint::Count)> countdowns;

Countdown& at(FaultPoint point) { return countdowns[static_cast<int>(point)]; }

}  // namespace

void faultArm(FaultPoint point, int successes, bool persistent) {
  Countdown& c = at(point);
  c.armed = false;
  c.remaining = successes < 0 ? 0 : successes;
  c.persistent = persistent;
  c.fired = false;
  c.armed = true;
}

void faultDisarm(FaultPoint point) { at(point).armed = false; }

void faultDisarmAll() {
  for (Countdown& c : countdowns) c.armed = false;
}

namespace {

bool fires(Countdown& c) {
  if (!c.armed.load(std::memory_order_relaxed)) return false;
  if (c.fired) return c.persistent;
  if (c.remaining.fetch_sub(1) > 0) return false;
  c.fired = true;
  return true;
}

}  // namespace

bool faultShouldFail(FaultPoint point) {
  if (!fires(at(point))) return false;
  sysSetLastError(sysOutOfMemoryCode());
  return true;
}

}  // namespace volsten
