#include "sys/thread.h"

#include <windows.h>
#include <process.h>

#include <cstdlib>

#include "sys/fault.h"

namespace volsten {
namespace {

struct Start {
  SysThreadRoutine routine;
  void* argument;
};

unsigned __stdcall trampoline(void* raw) {
  Start start = *static_cast<Start*>(raw);
  std::free(raw);
  start.routine(start.argument);
  return 0;
}

}  // namespace

bool sysThreadStart(SysThreadRoutine routine, uint32_t stackSize, void* argument) {
  if (routine == nullptr || faultShouldFail(FaultPoint::ThreadStart)) return false;
  auto* start = static_cast<Start*>(std::malloc(sizeof(Start)));
  if (start == nullptr) return false;
  *start = Start{routine, argument};
  uintptr_t handle = _beginthreadex(nullptr, stackSize, trampoline, start, 0, nullptr);
  if (handle == 0) {
    std::free(start);
    return false;
  }
  // The thread runs detached; nobody waits on its handle.
  CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

}  // namespace volsten
