// An exclusive lock between writers of one file, taken through an open C
// stream. Writers that lock wait for each other, for a limited time; readers
// that take no lock (such as the system's own service lookup) are never
// blocked. The lock is held through a handle of its own on the stream's
// file, so it outlasts the stream: a writer can close its stream, see
// whether the close failed, and still undo its write under the lock.
#pragma once

#include <cstdint>
#include <cstdio>

namespace volsten {

enum class SysFileLockResult {
  Locked,       // the lock is held
  Unsupported,  // the file system has no locks at all; nothing is held
  Refused,      // held by another writer past the wait, or refused otherwise
};

struct SysFileLock {
  uintptr_t handle = 0;  // the lock's own handle on the file; 0 for none
  bool held = false;
};

// Waits at most waitMilliseconds for the lock. Locked and Unsupported leave
// the lock's handle open (release it with sysFileUnlock); Refused leaves
// nothing open. Armed fault points: FileLock refuses, FileLockMissing
// answers Unsupported.
SysFileLockResult sysFileLock(std::FILE* stream, uint32_t waitMilliseconds, SysFileLock* lock);

// Cuts the file back to size bytes through the lock's handle and forces that
// to the disk: the undoing of an append, also once the stream is closed.
bool sysFileCutBack(const SysFileLock* lock, int64_t size);

// Releases the lock, if held, and closes its handle.
void sysFileUnlock(SysFileLock* lock);

}  // namespace volsten
