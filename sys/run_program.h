// Runs another program and waits for its exit code; tests use it to run the
// tool as a user would. Distinct from a transport's child process: no pipes,
// the output goes to a file.
#pragma once

#include <cstdint>

namespace volsten {

// A started program: a process handle or a process id; 0 means none.
using SysProgram = intptr_t;

// Starts argv[0] with the arguments argv[1..] (argv ends with a null
// pointer). Standard input reads the null device; standard output and
// standard error both go to the file at outputPath, created or emptied.
// Returns 0 when the program could not be started.
SysProgram sysProgramStart(const char* const* argv, const char* outputPath);

// Asks the program to stop: a termination signal on POSIX, which a server
// catches to stop cleanly; on Windows, where a program without a console
// of its own gets no Ctrl-C, the process is ended with exit code 1.
void sysProgramStop(SysProgram program);

// Waits for the program to end and returns its exit code, or -1 when it
// could not be waited for or ended by a signal. The handle is gone afterwards.
int32_t sysProgramWait(SysProgram program);

}  // namespace volsten
