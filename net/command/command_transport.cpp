#include "net/command/command_transport.h"

#include <cstring>

#include "base/heap.h"
#include "base/list.h"
#include "base/str.h"
#include "net/command/command_messages.h"
#include "net/connection_string.h"
#include "sys/error.h"

namespace volsten {
namespace {

HandleTable<CommandRecord> table;

constexpr uint32_t kCommandHeapCapacity = 2048;

// One record per failed system call: the prefix, the operation's tag and
// the system's text for the last error, taken at once.
void reportConnectionError(DiagContext* diag, const char* tag) {
  uint32_t code = sysLastError();
  char text[1024];
  sysErrorText(code, text, sizeof text);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kCommandConnectionError, tag, text);
}

// The status of the context, except that an operation that did not happen
// is never reported as success, also when there is no context to carry its
// record: a caller reading a dead child must see its stream end.
Status finish(DiagContext* diag, bool done) {
  Status status = diagStatus(diag);
  return !done && status >= 0 ? STATUS_ERROR : status;
}

// Fills line from the last "Command" pair of the connection string.
bool readCommand(DiagContext* diag, const char* text, int32_t length, char* line) {
  TracedHeap* heap = diagHeapCreate(diag, kCommandHeapCapacity);
  if (heap == nullptr) return false;
  std::memset(line, 0, kCommandLineSize);
  KeyedList* pairs = diagListCreate(diag, heap);
  parseConnectionString(diag, heap, pairs, text, length);
  for (void* item = listMove(pairs, LIST_FIRST, nullptr); item != nullptr;
       item = listMove(pairs, LIST_NEXT, nullptr)) {
    auto* pair = static_cast<ConnectionPair*>(item);
    if (pair->key != nullptr && strCompare(pair->key, NTS, "Command", NTS) == 0) {
      strCopy(diag, line, kCommandLineSize, pair->value, NTS);
    }
  }
  diagHeapDestroy(heap);
  return true;
}

bool startChild(DiagContext* diag, CommandRecord* record, char* line) {
  if (!sysChildStart(line, &record->outputRead, &record->inputWrite, &record->process)) {
    reportConnectionError(diag, kCommandTagConnect);
    return false;
  }
  record->writeHandle = record->inputWrite;
  record->readHandle = record->outputRead;
  return true;
}

void endConnection(CommandRecord* record) {
  if (record->outputRead != 0) sysPipeClose(record->outputRead);
  if (record->inputWrite != 0) sysPipeClose(record->inputWrite);
  record->outputRead = record->inputWrite = record->readHandle = record->writeHandle = 0;
  sysChildTerminate(&record->process);
}

CommandRecord* connectionOf(DiagContext* diag, int32_t connection) {
  if (!table.checkType(diag, connection, HANDLE_CONNECTION)) return nullptr;
  return table.lookup(diag, connection);
}

// A buffer that can take no byte, or data that is not there, would make a
// read or write of nothing pass for a transfer: a caller that loops until
// bytes arrive would loop forever. They are refused as the system refuses an
// invalid parameter.
bool refuseInvalid(DiagContext* diag, const char* tag) {
  sysSetLastError(sysInvalidParameterCode());
  reportConnectionError(diag, tag);
  return false;
}

}  // namespace

HandleTable<CommandRecord>& commandHandles() { return table; }

Status commandReceive(DiagContext* diag, int32_t connection, char* buffer, int32_t capacity,
                      int32_t* received) {
  CommandRecord* record = connectionOf(diag, connection);
  if (record == nullptr) return finish(diag, false);
  if (buffer == nullptr || capacity <= 0) {
    return finish(diag, refuseInvalid(diag, kCommandTagReceive));
  }
  uint32_t n = 0;
  if (!sysPipeRead(record->readHandle, buffer, static_cast<uint32_t>(capacity), &n)) {
    reportConnectionError(diag, kCommandTagReceive);
    return finish(diag, false);
  }
  if (received != nullptr) *received = static_cast<int32_t>(n);
  return finish(diag, true);
}

Status commandSend(DiagContext* diag, int32_t connection, const char* data, int32_t length) {
  CommandRecord* record = connectionOf(diag, connection);
  if (record == nullptr) return finish(diag, false);
  if (data == nullptr && length > 0) return finish(diag, refuseInvalid(diag, kCommandTagSend));
  // Nothing to send asks nothing of the system.
  if (length <= 0) return finish(diag, true);
  if (!sysPipeWrite(record->writeHandle, data, static_cast<uint32_t>(length))) {
    reportConnectionError(diag, kCommandTagSend);
    return finish(diag, false);
  }
  return finish(diag, true);
}

int32_t commandConnect(DiagContext* diag, int32_t environment, const char* text, int32_t length) {
  if (!table.checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  char line[kCommandLineSize];
  if (!readCommand(diag, text, length, line)) return 0;
  int32_t handle = table.allocate(diag);
  if (handle == 0) return 0;
  CommandRecord* record = table.lookup(diag, handle);
  if (record == nullptr) {
    table.release(diag, handle);
    return 0;
  }
  record->type = HANDLE_CONNECTION;
  record->parent = static_cast<uint16_t>(environment);
  // Judged by the start itself, not by the context: an error recorded
  // before this call must not strand a running child, and without a context
  // a failed start must still fail.
  if (!startChild(diag, record, line)) {
    table.release(diag, handle);
    return 0;
  }
  return handle;
}

int32_t commandOpenEnvironment(DiagContext* diag) {
  if (!table.attach(diag)) return 0;
  int32_t handle = table.allocate(diag);
  if (handle == 0) {
    table.detach(diag);
    return 0;
  }
  CommandRecord* record = table.lookup(diag, handle);
  if (record == nullptr) {
    table.release(diag, handle);
    table.detach(diag);
    return 0;
  }
  record->type = HANDLE_ENVIRONMENT;
  record->parent = 0;
  return handle;
}

// This transport never creates listeners: the check always fails.
Status commandCloseListener(DiagContext* diag, int32_t listener) {
  bool done = table.checkType(diag, listener, HANDLE_LISTENER) && table.release(diag, listener);
  return finish(diag, done);
}

Status commandCloseConnection(DiagContext* diag, int32_t connection) {
  CommandRecord* record = table.lookup(diag, connection);
  if (record == nullptr || !table.checkType(diag, connection, HANDLE_CONNECTION)) {
    return finish(diag, false);
  }
  endConnection(record);
  return finish(diag, table.release(diag, connection));
}

Status commandFreeEnvironment(DiagContext* diag, int32_t environment) {
  if (table.lookup(diag, environment) == nullptr ||
      !table.checkType(diag, environment, HANDLE_ENVIRONMENT)) {
    return finish(diag, false);
  }
  for (int32_t handle = 1; handle <= kHandleCount; ++handle) {
    CommandRecord* record = table.lookup(diag, handle);
    if (record != nullptr && record->type == HANDLE_CONNECTION && record->parent == environment) {
      endConnection(record);
      table.release(diag, handle);
    }
  }
  bool done = table.release(diag, environment);
  table.detach(diag);
  return finish(diag, done);
}

int32_t commandAdoptStandardStreams(DiagContext* diag, int32_t environment) {
  if (!table.checkType(diag, environment, HANDLE_ENVIRONMENT)) return 0;
  CommandRecord initial{};
  initial.type = HANDLE_CONNECTION;
  initial.parent = static_cast<uint16_t>(environment);
  // Only the read and write handles: endConnection closes the pipe ends it
  // started, and these are none of them.
  initial.readHandle = sysStdHandle(0);
  initial.writeHandle = sysStdHandle(1);
  return table.allocate(diag, initial);
}

const TransportOps kCommandTransport = {
    commandReceive,         commandSend,          commandConnect,
    commandOpenEnvironment, commandCloseListener, commandCloseConnection,
    commandFreeEnvironment,
};

}  // namespace volsten
