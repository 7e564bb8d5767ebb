// Thin wrappers over OS mutexes and thread start, in the runtime's own shape.
#pragma once

#include <cstdint>

namespace volsten {

// An OS mutex handle (pointer-sized); null means none.
using MutexHandle = void*;
using ThreadRoutine = void (*)(void* argument);

// A new unnamed mutex, owned by the calling thread when initiallyOwned is
// non-zero; null on failure.
MutexHandle mutexCreate(int initiallyOwned);
// Waits without time-out; always 1.
int mutexWait(MutexHandle mutex);
// Non-zero on success.
int mutexRelease(MutexHandle mutex);
int mutexClose(MutexHandle mutex);

// Non-zero when the thread runs routine(argument); 0 when it could not start.
int threadStart(ThreadRoutine routine, uint32_t stackSize, void* argument);

}  // namespace volsten
