// An exclusive lock between writers of one file, taken through an open C
// stream. Writers that lock wait for each other; readers that take no lock
// (such as the system's own service lookup) are never blocked.
#pragma once

#include <cstdio>

namespace volsten {

// Waits until the lock is granted. False when the system cannot lock the file
// (or an armed FaultPoint::FileLock refuses).
bool sysFileLock(std::FILE* stream);
// Releases a lock taken by sysFileLock on the same stream. Call it before the
// stream is closed.
void sysFileUnlock(std::FILE* stream);

}  // namespace volsten
