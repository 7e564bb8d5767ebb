// Named pipes between processes of this machine: a server offers instances
// of a pipe under a name, and a client opens the name to talk to one of
// them. On Windows these are the system's named pipes ("\\.\pipe\..."),
// driven with overlapped I/O; on POSIX the name is the path of a Unix-domain
// stream socket, and an instance is the listening socket until a client
// connects, then that client's connection.
#pragma once

#include <cstdint>

namespace volsten {

// A client end or a server instance; all bits set for none (Windows'
// INVALID_HANDLE_VALUE).
using SysNamedPipe = uintptr_t;
constexpr SysNamedPipe kSysNoNamedPipe = ~SysNamedPipe{0};

// Every call that fails leaves the reason in sysLastError(), for
// sysErrorText.

// --- Client ends -----------------------------------------------------------

enum class SysPipeOpen {
  Opened,
  Failed,    // the open failed, or the wait for a free instance did
  TryAgain,  // an instance came free during the wait: open again
};
// One pass of opening name for reading and writing: when every instance is
// busy, waits up to waitMs (more than 0) for one to come free (another
// client may still take it first, hence TryAgain; on POSIX the wait itself
// connects, so it never comes back with TryAgain). The name goes to the system unchanged. The
// client lets the server identify it but never impersonate it.
SysPipeOpen sysNamedPipeOpen(const char* name, uint32_t waitMs, SysNamedPipe* end);

// --- Server instances ------------------------------------------------------

constexpr uint32_t kSysPipeUnlimitedInstances = 255;

// Creates an instance of the pipe name, which admits up to maxInstances
// instances (1..255). With first, the call creates the pipe itself and fails
// when the name is taken; on POSIX a socket file that nobody accepts on is
// stale and replaced, while any other file there (a symbolic link included)
// is refused. The pipe admits clients of this machine only; authenticated
// users may read and write but not create instances, anonymous users are
// refused. A pipe exists while any of its instances is open; on POSIX its
// socket file is removed with the last one.
bool sysNamedPipeCreate(const char* name, bool first, uint32_t maxInstances,
                        SysNamedPipe* instance);

enum class SysPipeAccept {
  Connected,  // a client is connected, or the wait ended because the
              // instance was closed meanwhile
  Listening,  // the instance cannot wait here: try again later
  Failed,
};
// Waits without limit for a client to connect to the instance. A close of
// the instance from another thread ends the wait.
SysPipeAccept sysNamedPipeAccept(SysNamedPipe instance);

// Waits until the client has read everything written to the instance, or
// has gone.
bool sysNamedPipeFlush(SysNamedPipe instance);
// Ends the client's connection: its next read or write fails, and data it
// has not read is lost. The instance can then wait for a client again.
bool sysNamedPipeDisconnect(SysNamedPipe instance);

// --- Both ------------------------------------------------------------------

enum class SysPipeIo {
  Done,             // the count tells the bytes moved
  PeerGone,         // the other end closed or disconnected; count 0
  Failed,           // the call failed at once
  FailedAfterWait,  // it failed when the operation completed
};
// One read of up to capacity bytes, waiting without limit until some
// arrive; it never loops to fill the buffer.
SysPipeIo sysNamedPipeRead(SysNamedPipe end, void* buffer, uint32_t capacity,
                           uint32_t* received);
// One write of length bytes, waiting without limit until the system has
// taken all of them (Done). A gone peer is a failure here (broken pipe),
// never a signal.
SysPipeIo sysNamedPipeWrite(SysNamedPipe end, const void* data, uint32_t length);

// Closes a client end or an instance. A read, write or wait for a client
// blocked on it in another thread returns.
bool sysNamedPipeClose(SysNamedPipe end);

// A pipe name private to this process, made from base: on Windows
// "\\.\pipe\volsten-<process id>-<base>", on POSIX a socket path of that
// form in the temporary directory. False when it does not fit in size bytes.
bool sysLocalPipeName(const char* base, char* name, int32_t size);

// The access the pipe grants, as Windows' security descriptor text of its
// access list (for tests); false where pipes carry no such list (POSIX).
bool sysNamedPipeAccessText(SysNamedPipe instance, char* text, int32_t size);

}  // namespace volsten
