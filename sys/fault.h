// Fault injection for tests: a countdown that makes the Nth call of an
// operation fail, then every call after it or only that one. Production code
// never arms a fault point; the backends only ask whether one has fired. A
// call failed this way leaves the system's "not enough memory" code
// (sysOutOfMemoryCode()) as the thread's last error, so that whatever text
// the failure reports is the system's own and known to tests.
#pragma once

namespace volsten {

enum class FaultPoint {
  SegmentAlloc,      // fixed segment memory for traced heaps
  HeapBlock,         // a block handed out by a traced heap
  MutexCreate,       // an OS mutex
  ThreadStart,       // a new thread
  MutexLock,         // waiting for an OS mutex
  GeneralAlloc,      // a block from the C runtime's general heap
  PipeCreate,        // an anonymous pipe for a child process
  ChildStart,        // a child process
  VersionQuery,      // the operating-system version query
  SystemDirectory,   // the system directory query
  WindowsDirectory,  // the Windows directory query
  MutexClose,        // closing an OS mutex
  FileLock,          // an exclusive file lock, refused
  FileLockMissing,   // an exclusive file lock, on a file system without locks
  StreamWrite,       // a write that must reach the file whole
  StreamSync,        // forcing written data to the disk
  StreamClose,       // closing a written file
  Count
};

// After `successes` more calls succeed, the next call at `point` fails; when
// `persistent`, every later call fails too, otherwise only that one.
void faultArm(FaultPoint point, int successes, bool persistent = true);
void faultDisarm(FaultPoint point);
void faultDisarmAll();

// True when the call being made at `point` must fail; the last error is then
// set as told above.
bool faultShouldFail(FaultPoint point);

}  // namespace volsten
