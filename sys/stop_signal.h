// The stop request of a server process: Ctrl-C, a termination signal (or the
// console closing on Windows), or the program's own sysStopRequest.
#pragma once

namespace volsten {

// Call once, before any thread starts, so that the request reaches the
// waiting thread only. False when the system refuses.
bool sysStopSignalsCatch();

// Returns once a stop has been requested (also when that happened before).
void sysStopWait();

void sysStopRequest();

}  // namespace volsten
