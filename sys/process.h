// Child processes spoken to through their standard input and output.
#pragma once

#include <cstdint>

namespace volsten {

// A pipe end or process handle: a Windows HANDLE; on POSIX a file descriptor
// plus one, or a process id. 0 means none.
using SysHandle = uintptr_t;

// What starting a child yields besides its pipe ends.
struct SysChild {
  SysHandle process;  // process handle; the process id on POSIX
  SysHandle thread;   // primary thread handle; 0 on POSIX
  uint32_t processId;
  uint32_t threadId;
};

// Starts commandLine (NUL-terminated; Windows may write into it) with its
// standard input fed from *inputWrite and its standard output and standard
// error both going to *outputRead. This process's two ends are not inherited
// by the child or by any later child. On Windows the line goes to
// CreateProcessA as is; on POSIX to /bin/sh -c. Both ends are cleared first.
// False when a pipe or the process could not be made (an empty command line
// included); sysLastError() then tells why and no handle of the attempt stays
// open.
bool sysChildStart(char* commandLine, SysHandle* outputRead, SysHandle* inputWrite,
                   SysChild* child);

// Terminates the child (exit code 0 on Windows; SIGKILL to the child's
// process group on POSIX, which then reaps it) and closes its handles. The
// fields are cleared. Does nothing for a cleared record.
void sysChildTerminate(SysChild* child);

// Reads at most capacity bytes, waiting until some arrive. A pipe whose
// writers are all gone and whose data is drained fails (broken pipe).
bool sysPipeRead(SysHandle end, void* buffer, uint32_t capacity, uint32_t* received);
// Writes all length bytes, waiting while the pipe is full. A pipe whose
// reader is gone fails (broken pipe; no signal reaches the process).
bool sysPipeWrite(SysHandle end, const void* data, uint32_t length);
bool sysPipeClose(SysHandle end);

// This process's standard input (0), output (1) or error (2), for programs
// that are themselves started as children.
SysHandle sysStdHandle(int which);

// True while a process with this id exists (a child not yet reaped counts).
bool sysProcessAlive(uint32_t processId);

// Pipe ends made by sysChildStart and not yet closed, process-wide (for leak
// checks).
long sysPipeEndsOpen();

}  // namespace volsten
