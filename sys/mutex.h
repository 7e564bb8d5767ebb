// OS mutexes: recursive, owned by a thread, waited on without time-out.
#pragma once

namespace volsten {

// An OS mutex handle: a Windows mutex HANDLE, or a recursive pthread mutex.
using SysMutex = void*;

// Every operation that fails leaves the reason in sysLastError().

// Null when the system (or an armed FaultPoint::MutexCreate) refuses.
SysMutex sysMutexCreate(bool initiallyOwned);
void sysMutexWait(SysMutex mutex);
// The same wait with a result, for callers that must report a failed wait.
// False only when the wait itself failed (an armed FaultPoint::MutexLock
// counts as such); a mutex abandoned by a thread that ended counts as
// acquired.
bool sysMutexLock(SysMutex mutex);
// False when the calling thread does not hold the mutex.
bool sysMutexRelease(SysMutex mutex);
// An armed FaultPoint::MutexClose fails the call before anything is closed.
bool sysMutexClose(SysMutex mutex);

}  // namespace volsten
