// Waiting for an OS mutex with a result: the handle tables must report a
// wait that failed.
#pragma once

#include "sys/mutex.h"

namespace volsten {

// Waits without time-out. False only when the wait itself failed (an armed
// FaultPoint::MutexLock counts as such); a mutex abandoned by a thread that
// ended counts as acquired. sysLastError() tells why.
bool sysMutexLock(SysMutex mutex);

}  // namespace volsten
