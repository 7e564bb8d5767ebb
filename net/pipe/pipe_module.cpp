// The module's shared pieces: its table, the module lock with its holds,
// the teardown of pipes, the "Path" reader and the error records.
#include <cstring>
#include <mutex>

#include "base/list.h"
#include "base/str.h"
#include "net/connection_string.h"
#include "net/net_messages.h"
#include "net/pipe/pipe_messages.h"
#include "net/pipe/pipe_records.h"
#include "sys/error.h"

namespace volsten {
namespace {

HandleTable<PipeRecord> table;

constexpr uint32_t kScratchHeapCapacity = 2048;

// The holds and the lock they keep; holdsLock guards both counts and the
// lock's creation and deletion.
std::mutex holdsLock;
int32_t holds = 0;
std::atomic<SysMutex> moduleMutex{nullptr};

}  // namespace

HandleTable<PipeRecord>& pipeHandles() { return table; }

int32_t pipeModuleHolds() {
  std::lock_guard<std::mutex> guard(holdsLock);
  return holds;
}

bool moduleHold(DiagContext* diag) {
  std::lock_guard<std::mutex> guard(holdsLock);
  if (holds == 0) {
    SysMutex mutex = sysMutexCreate(false);
    if (mutex == nullptr) {
      uint32_t code = sysLastError();
      char text[256];
      sysErrorText(code, text, sizeof text);
      diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kNetSemaphoreError, text, nullptr);
      return false;
    }
    moduleMutex.store(mutex, std::memory_order_release);
  }
  ++holds;
  return true;
}

void moduleDrop() {
  std::lock_guard<std::mutex> guard(holdsLock);
  if (holds == 0) return;
  if (--holds == 0) sysMutexClose(moduleMutex.exchange(nullptr, std::memory_order_acq_rel));
}

ModuleLock::ModuleLock() : mutex_(moduleMutex.load(std::memory_order_acquire)) {
  if (mutex_ != nullptr) sysMutexWait(mutex_);
}

ModuleLock::~ModuleLock() {
  if (mutex_ != nullptr) sysMutexRelease(mutex_);
}

bool holdForThread() {
  if (!table.attach(nullptr)) return false;
  if (!moduleHold(nullptr)) {
    table.detach(nullptr);
    return false;
  }
  return true;
}

void dropForThread() {
  moduleDrop();
  table.detach(nullptr);
}

void endPipe(SysNamedPipe pipe, PipeEnd how) {
  if (pipe == kSysNoNamedPipe) return;
  if (how == PipeEnd::FlushDisconnectClose) sysNamedPipeFlush(pipe);
  if (how != PipeEnd::Close) sysNamedPipeDisconnect(pipe);
  sysNamedPipeClose(pipe);
}

void PipeBatch::endAll() {
  for (int32_t i = 0; i < count_; ++i) endPipe(pipes_[i], how_);
  count_ = 0;
}

void takeListenerPipes(int32_t listener, PipeBatch* connections, PipeBatch* own) {
  // In ascending handle order: the listener's connections first, its own
  // instance last.
  SysNamedPipe instance = kSysNoNamedPipe;
  table.forEachInUse(nullptr, [&](PipeRecord* record, int32_t handle) {
    if (record->type == HANDLE_CONNECTION && record->parent == listener) {
      setClosing(record);
      connections->add(takePipe(record));
    } else if (handle == listener && record->type == HANDLE_LISTENER) {
      setClosing(record);
      instance = takePipe(record);
    }
  });
  own->add(instance);
}

bool readPipeName(DiagContext* diag, const char* text, int32_t length, char* name) {
  TracedHeap* heap = diagHeapCreate(diag, kScratchHeapCapacity);
  if (heap == nullptr) return false;
  std::memset(name, 0, kPipeNameSize);
  KeyedList* pairs = diagListCreate(diag, heap);
  parseConnectionString(diag, heap, pairs, text, length);
  for (void* item = listMove(pairs, LIST_FIRST, nullptr); item != nullptr;
       item = listMove(pairs, LIST_NEXT, nullptr)) {
    const auto* pair = static_cast<const ConnectionPair*>(item);
    // The key is matched byte for byte: "path" is not "Path".
    if (pair->key != nullptr && std::strcmp(pair->key, "Path") == 0) {
      strCopy(diag, name, kPipeNameSize, pair->value != nullptr ? pair->value : "", NTS);
    }
  }
  diagHeapDestroy(heap);
  return true;
}

void reportPipeError(DiagContext* diag, const char* tag) {
  uint32_t code = sysLastError();
  char text[1024];
  sysErrorText(code, text, sizeof text);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kPipeConnectionError, tag, text);
}

}  // namespace volsten
