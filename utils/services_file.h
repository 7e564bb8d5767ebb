// Adds one entry to the services file unless one for the same name and
// protocol is there.
#pragma once

#include <cstdint>

namespace volsten {

// Appends the entry (name and protocol already lower-case) at the columns
// the file's entries use most, unless an entry for name and protocol exists.
// A file that cannot be opened, read or locked is left as it is. Returns 0
// in every case.
int registerService(const char* path, const char* name, int32_t port, const char* protocol,
                    const char* comment);

}  // namespace volsten
