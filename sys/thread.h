// Thread start through the C runtime (never bare CreateThread on Windows, so
// the runtime's per-thread state is set up).
#pragma once

#include <cstdint>

namespace volsten {

using SysThreadRoutine = void (*)(void* argument);

// Starts a detached thread running routine(argument); stackSize 0 takes the
// default. False when the thread could not be created.
bool sysThreadStart(SysThreadRoutine routine, uint32_t stackSize, void* argument);

}  // namespace volsten
