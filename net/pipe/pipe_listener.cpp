// The listening side: a listener record with its waiting instance, the
// listener thread that waits for clients and creates the next instance, and
// one service thread per connected instance that runs the listener's
// handler. Both threads keep handles, never record pointers across a wait
// they do not control, and each holds the table and the module lock for
// itself (holdForThread) while it runs.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/sync.h"
#include "net/pipe/pipe_messages.h"
#include "net/pipe/pipe_records.h"
#include "sys/error.h"
#include "sys/fault.h"
#include "sys/sleep.h"

namespace volsten {
namespace {

// How long the listener waits before it tries again: after an instance
// that cannot wait for a client yet, and after a failed start of a service
// thread or a failed new instance (which would otherwise spin).
constexpr uint32_t kRetryMs = 200;

// The argument of the listener thread; the name is the one under which it
// creates further instances.
struct ListenerStart {
  int32_t listener;
  char name[kPipeNameSize];
};

void* generalAlloc(size_t size) {
  return faultShouldFail(FaultPoint::GeneralAlloc) ? nullptr : std::malloc(size);
}

// Decided under the module lock, as closeListener's cascade is: a close of
// the listener either came before (and left it closing) or finds the
// connection's record and takes its instance.
bool listenerOpen(int32_t listener) {
  bool open = false;
  pipeHandles().withRecord(nullptr, listener, [&](PipeRecord* record) {
    open = record->type == HANDLE_LISTENER && !isClosing(record);
  });
  return open;
}

void pipeServiceThread(void* argument) {
  auto* block = static_cast<PipeRecord*>(argument);
  PipeRecord start = *block;
  std::free(block);
  HandleTable<PipeRecord>& table = pipeHandles();
  int32_t handle = 0;
  bool serve = false;
  {
    ModuleLock lock;
    handle = table.allocate(nullptr, start);
    serve = handle != 0 && listenerOpen(start.parent);
  }
  if (handle == 0) {
    endPipe(start.pipe, PipeEnd::Close);
  } else {
    if (serve && start.handler != nullptr) start.handler(handle, start.userData);
    // Only this thread releases an accepted connection's handle.
    SysNamedPipe pipe = kSysNoNamedPipe;
    {
      ModuleLock lock;
      if (PipeRecord* record = table.lookup(nullptr, handle)) {
        setClosing(record);
        pipe = takePipe(record);
      }
    }
    endPipe(pipe, PipeEnd::FlushDisconnectClose);
    table.release(nullptr, handle);
  }
  dropForThread();
}

// Hands the listener's connected instance to a new service thread. False
// when the listener must stop: it is closing, or there is no memory for the
// block.
bool handOff(int32_t listener) {
  auto* block = static_cast<PipeRecord*>(generalAlloc(sizeof(PipeRecord)));
  if (block == nullptr) return false;
  bool started = false;
  bool closing = false;
  bool held = holdForThread();
  if (held) {
    ModuleLock lock;
    PipeRecord* record = pipeHandles().lookup(nullptr, listener);
    closing = record == nullptr || isClosing(record);
    if (!closing) {
      *block = PipeRecord{};
      block->type = HANDLE_CONNECTION;
      block->parent = static_cast<uint16_t>(listener);
      block->handler = record->handler;
      block->userData = record->userData;
      block->pipe = takePipe(record);
      started = threadStart(pipeServiceThread, 0, block) != 0;
      // Not started: the instance stays with the listener, connected, and
      // the next pass tries again.
      if (!started) putPipe(record, block->pipe);
    }
  }
  if (!started) {
    std::free(block);
    if (held) dropForThread();
    if (!closing) sysSleep(kRetryMs);
  }
  return !closing;
}

// Waits for a client on the instance. False when the listener must stop.
bool awaitClient(int32_t listener, SysNamedPipe instance) {
  for (;;) {
    SysPipeAccept outcome = sysNamedPipeAccept(instance);
    PipeRecord* record = pipeHandles().lookup(nullptr, listener);
    if (record == nullptr || isClosing(record)) return false;
    if (outcome == SysPipeAccept::Connected) return true;
    // An unexpected failure ends the listener, through its ordinary
    // shutdown.
    if (outcome == SysPipeAccept::Failed) return false;
    sysSleep(kRetryMs);
  }
}

// A new instance for the next client.
void createInstance(int32_t listener, const char* name) {
  SysNamedPipe instance = kSysNoNamedPipe;
  if (!sysNamedPipeCreate(name, false, kSysPipeUnlimitedInstances, &instance)) {
    sysSleep(kRetryMs);
    return;
  }
  bool stored = false;
  {
    ModuleLock lock;
    PipeRecord* record = pipeHandles().lookup(nullptr, listener);
    if (record != nullptr && !isClosing(record)) {
      putPipe(record, instance);
      stored = true;
    }
  }
  if (!stored) sysNamedPipeClose(instance);
}

// One pass of the listener's loop; false when it must stop.
bool listenOnce(const ListenerStart& start) {
  PipeRecord* record = pipeHandles().lookup(nullptr, start.listener);
  if (record == nullptr || isClosing(record)) return false;
  SysNamedPipe instance = pipeOf(record);
  if (instance == kSysNoNamedPipe) {
    createInstance(start.listener, start.name);
    return true;
  }
  return awaitClient(start.listener, instance) && handOff(start.listener);
}

// Ends every connection the listener accepted (they are cut off, not
// flushed) and its instance, and releases the listener's handle.
void shutDown(int32_t listener) {
  PipeBatch connections(PipeEnd::DisconnectClose);
  PipeBatch own(PipeEnd::Close);
  {
    ModuleLock lock;
    takeListenerPipes(listener, &connections, &own);
    pipeHandles().release(nullptr, listener);
  }
  connections.endAll();
  own.endAll();
}

void pipeListenerThread(void* argument) {
  auto* start = static_cast<ListenerStart*>(argument);
  if (pipeHandles().lookup(nullptr, start->listener) != nullptr) {
    while (listenOnce(*start)) {
    }
    shutDown(start->listener);
  }
  std::free(start);
  dropForThread();
}

void reportNotStarted(DiagContext* diag) {
  uint32_t code = sysLastError();
  char text[1024];
  sysErrorText(code, text, sizeof text);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kPipeListenerNotStarted, text, nullptr);
}

// Undoes a listening step whose thread did not start.
void abandonListener(DiagContext* diag, int32_t handle) {
  SysNamedPipe instance = kSysNoNamedPipe;
  pipeHandles().withRecord(nullptr, handle,
                           [&](PipeRecord* record) { instance = takePipe(record); });
  endPipe(instance, PipeEnd::Close);
  pipeHandles().release(diag, handle);
}

}  // namespace

int32_t pipeListen(DiagContext* diag, int32_t environment, const char* text, int32_t length,
                   ConnectionHandler handler, uintptr_t userData) {
  HandleTable<PipeRecord>& table = pipeHandles();
  if (!table.checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  auto* start = static_cast<ListenerStart*>(generalAlloc(sizeof(ListenerStart)));
  if (start == nullptr) {
    sysSetLastError(sysOutOfMemoryCode());
    reportNotStarted(diag);
    return 0;
  }
  SysNamedPipe instance = kSysNoNamedPipe;
  if (!readPipeName(diag, text, length, start->name)) {
    std::free(start);
    return 0;
  }
  if (start->name[0] == '\0') {
    diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kPipeNoPath, nullptr, nullptr);
    std::free(start);
    return 0;
  }
  if (!sysNamedPipeCreate(start->name, true, kSysPipeUnlimitedInstances, &instance)) {
    reportPipeError(diag, kPipeTagCreate);
    std::free(start);
    return 0;
  }
  PipeRecord initial{};
  initial.type = HANDLE_LISTENER;
  initial.parent = static_cast<uint16_t>(environment);
  initial.handler = handler;
  initial.userData = userData;
  initial.pipe = instance;
  start->listener = table.allocate(diag, initial);
  if (start->listener == 0) {
    sysNamedPipeClose(instance);
    std::free(start);
    return 0;
  }
  int32_t handle = start->listener;
  bool held = holdForThread();
  if (!held || threadStart(pipeListenerThread, 0, start) == 0) {
    reportNotStarted(diag);
    if (held) dropForThread();
    std::free(start);
    abandonListener(diag, handle);
    return 0;
  }
  return handle;
}

}  // namespace volsten
