// The socket adapters' error state: Winsock keeps the last error per thread
// and names it with its own numbers, so errno is translated on every failure.
#pragma once

namespace volsten {

// Winsock's number for errno (the value itself when Winsock has none).
int wsaErrorFromErrno(int error);

int wsaLastError();
void wsaSetLastError(int error);

// Store the error (or errno, translated) and return -1, the failure value
// of most socket calls.
int wsaFail(int error);
int wsaFailFromErrno();

}  // namespace volsten
