// Adds one entry to the services file unless one for the same name and
// protocol is there.
#pragma once

#include <cstdint>

namespace volsten {

// Appends the entry (name and protocol already lower-case) at the columns
// the file's entries use most, unless an entry for name and protocol exists.
// The entry reaches the disk whole before the lock is released, or not at
// all. A file that cannot be opened or read, whose lock another writer holds
// for more than 30 seconds or that cannot be locked for any reason but the
// file system's lack of locks, or fields that would not read back as one
// entry for this service, leave the file as it is. Returns 0 in every case.
int registerService(const char* path, const char* name, int32_t port, const char* protocol,
                    const char* comment);

// registerService with another limit on the wait for the lock (tests use
// short ones).
int registerServiceWaiting(uint32_t lockWaitMilliseconds, const char* path, const char* name,
                           int32_t port, const char* protocol, const char* comment);

}  // namespace volsten
