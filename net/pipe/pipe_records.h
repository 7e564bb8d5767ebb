// What the transport's operations and threads share: atomic access to a
// record's pipe and closing flag, the module lock and its holds, the
// teardown of taken pipes, and the module's records of system errors.
//
// A pipe is taken out of its record (an atomic exchange, so exactly one
// thread ends it) under the module lock, and ended after the lock is left:
// a flush waits until the client has read everything, and a client that
// never reads must not hold up every other close of the module.
#pragma once

#include <cstdint>

#include "net/pipe/pipe_transport.h"
#include "net/shared_fields.h"
#include "sys/mutex.h"

namespace volsten {

inline SysNamedPipe pipeOf(PipeRecord* record) { return sharedLoad(record->pipe); }
// Leaves kSysNoNamedPipe behind; whoever takes a pipe ends it.
inline SysNamedPipe takePipe(PipeRecord* record) {
  return sharedTake(record->pipe, kSysNoNamedPipe);
}
inline void putPipe(PipeRecord* record, SysNamedPipe pipe) { sharedStore(record->pipe, pipe); }

// Takes a hold on the module lock, creating the lock when there was none
// ("Semaphoren Fehler: " and false when it cannot be made).
bool moduleHold(DiagContext* diag);
// Gives a hold back; the last one deletes the lock.
void moduleDrop();

// The module lock for a scope. Callers hold a hold, so the lock exists.
class ModuleLock {
 public:
  ModuleLock();
  ~ModuleLock();
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;

 private:
  SysMutex mutex_;
};

// What a thread holds while it runs: an attachment of the table and a hold
// on the module lock, so that freeing the last environment frees neither
// the slots it looks up nor the lock it enters.
bool holdForThread();
void dropForThread();

// How a taken pipe is ended.
enum class PipeEnd {
  Close,                     // a client end
  DisconnectClose,           // an instance whose client is cut off
  FlushDisconnectClose,      // an instance whose client gets every byte first
};
void endPipe(SysNamedPipe pipe, PipeEnd how);

// Pipes taken under the module lock, ended in the order taken once it is
// left.
class PipeBatch {
 public:
  explicit PipeBatch(PipeEnd how) : how_(how) {}
  PipeBatch(const PipeBatch&) = delete;
  PipeBatch& operator=(const PipeBatch&) = delete;
  ~PipeBatch() { endAll(); }

  void add(SysNamedPipe pipe) {
    if (pipe != kSysNoNamedPipe && count_ < kHandleCount) pipes_[count_++] = pipe;
  }
  void endAll();

 private:
  PipeEnd how_;
  int32_t count_ = 0;
  SysNamedPipe pipes_[kHandleCount];
};

// Marks closing and takes the pipes of every connection the listener
// accepted into connections, and the listener's own instance into own.
// Runs under the module lock.
void takeListenerPipes(int32_t listener, PipeBatch* connections, PipeBatch* own);

// Fills name (kPipeNameSize bytes) from the connection string's last
// "Path" pair; without one it stays empty. False when the scratch heap for
// the parse cannot be made.
constexpr int32_t kPipeNameSize = 1024;
bool readPipeName(DiagContext* diag, const char* text, int32_t length, char* name);

// "Lokaler Verbindungsfehler " + tag + the system's text for the last error.
void reportPipeError(DiagContext* diag, const char* tag);

}  // namespace volsten
