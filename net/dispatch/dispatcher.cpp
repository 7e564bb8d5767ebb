#include "net/dispatch/dispatcher.h"

#include <atomic>
#include <cstring>

#include "base/list.h"
#include "net/command/command_transport.h"
#include "net/connection_string.h"
#include "net/dispatch/connection_buffers.h"
#include "net/dispatch/dispatcher_internal.h"
#include "net/pipe/pipe_transport.h"
#include "net/tcp/tcp_transport.h"

namespace volsten {
namespace {

HandleTable<DispatcherRecord> table;

inline constexpr char kNoProtocol[] =
    "In der Verbindungs Zeichenkette ist kein Protokoll angegeben";

constexpr uint32_t kProtocolHeapCapacity = 2048;
constexpr uint32_t kPairsHeapCapacity = 1024;

// Replaced by tests, one kind at a time.
std::atomic<const TransportOps*> seams[4];

// A parsed connection string on a heap of its own.
struct ParsedString {
  TracedHeap* heap = nullptr;
  KeyedList* pairs = nullptr;
};

bool parse(DiagContext* diag, uint32_t capacity, const char* text, int32_t length,
           ParsedString* out) {
  out->heap = diagHeapCreate(diag, capacity);
  if (out->heap == nullptr) return false;
  out->pairs = diagListCreate(diag, out->heap);
  if (out->pairs == nullptr) {
    diagHeapDestroy(out->heap);
    out->heap = nullptr;
    return false;
  }
  if (text != nullptr) parseConnectionString(diag, out->heap, out->pairs, text, length);
  return true;
}

// Calls visit(key, value) for every pair with both, in order.
template <typename Visit>
void forEachPair(KeyedList* pairs, Visit&& visit) {
  for (void* item = listMove(pairs, LIST_FIRST, nullptr); item != nullptr;
       item = listMove(pairs, LIST_NEXT, nullptr)) {
    const auto* pair = static_cast<const ConnectionPair*>(item);
    if (pair->key != nullptr && pair->value != nullptr) visit(pair->key, pair->value);
  }
}

DispatcherRecord* recordOfType(DiagContext* diag, int32_t handle, uint8_t type) {
  if (!table.checkType(diag, handle, type)) return nullptr;
  return table.lookup(diag, handle);
}

// The first connection of the environment with equal pairs whose stream has
// not ended; 0 when there is none.
int32_t findPooled(int32_t environment, const KeyedList* pairs) {
  int32_t found = 0;
  table.forEachInUse(nullptr, [&](DispatcherRecord* record, int32_t handle) {
    if (found != 0 || record->type != HANDLE_CONNECTION || record->parent != environment) return;
    ConnectionBuffers* buffers = buffersOf(handle);
    // A dead peer must not be handed to every later connect.
    if (buffers == nullptr || buffers->pairs == nullptr || buffers->ended) return;
    if (sameConnectionPairs(buffers->pairs, pairs)) found = handle;
  });
  return found;
}

// Opens the transport connection under a new handle; 0 on failure.
int32_t openConnection(DiagContext* diag, const DispatcherRecord& environment,
                       int32_t environmentHandle, uint8_t kind, const char* text, int32_t length) {
  DispatcherRecord initial{};
  initial.type = HANDLE_CONNECTION;
  initial.parent = static_cast<uint16_t>(environmentHandle);
  initial.kind = kind;
  int32_t handle = table.allocate(diag, initial);
  if (handle == 0) return 0;
  int32_t transportEnvironment = kind == TRANSPORT_LOCAL ? environment.pipeEnvironment
                                 : kind == TRANSPORT_TCP ? environment.tcpEnvironment
                                                         : environment.commandEnvironment;
  int32_t transportConnection = transportOf(kind)->connect(diag, transportEnvironment, text, length);
  if (transportConnection == 0) {
    table.release(diag, handle);
    return 0;
  }
  table.lookup(nullptr, handle)->transportHandle = transportConnection;
  return handle;
}

// The connection and its transport, for send and receive.
struct Route {
  ConnectionBuffers* buffers = nullptr;
  const TransportOps* ops = nullptr;
  int32_t transportConnection = 0;
};

bool routeOf(DiagContext* diag, int32_t connection, Route* route) {
  DispatcherRecord* record = recordOfType(diag, connection, HANDLE_CONNECTION);
  if (record == nullptr) return false;
  route->buffers = buffersEnsure(connection);
  route->ops = transportOf(record->kind);
  route->transportConnection = record->transportHandle;
  return route->buffers != nullptr;
}

// In the order local pipe, TCP, command; a transport that did not open has
// no environment to free.
void freeTransportEnvironments(DiagContext* diag, const DispatcherRecord& environment) {
  const int32_t handles[] = {environment.pipeEnvironment, environment.tcpEnvironment,
                             environment.commandEnvironment};
  for (uint8_t kind = TRANSPORT_LOCAL; kind <= TRANSPORT_DETACHED_SERVER; ++kind) {
    if (handles[kind - 1] != 0) transportOf(kind)->freeEnvironment(diag, handles[kind - 1]);
  }
}


}  // namespace

HandleTable<DispatcherRecord>& dispatcherHandles() { return table; }

void dispatcherSeamSetTransport(uint8_t kind, const TransportOps* ops) {
  if (kind >= 1 && kind <= 3) seams[kind].store(ops, std::memory_order_release);
}

const TransportOps* transportOf(uint8_t kind) {
  if (kind < 1 || kind > 3) return nullptr;
  if (const TransportOps* seam = seams[kind].load(std::memory_order_acquire)) return seam;
  switch (kind) {
    case TRANSPORT_LOCAL: return &kPipeTransport;
    case TRANSPORT_TCP: return &kTcpTransport;
    default: return &kCommandTransport;
  }
}

uint8_t chooseProtocol(DiagContext* diag, const char* text, int32_t length) {
  ParsedString parsed;
  if (!parse(diag, kProtocolHeapCapacity, text, length, &parsed)) return 0;
  uint8_t kind = 0;
  forEachPair(parsed.pairs, [&](const char* key, const char* value) {
    if (kind != 0 || std::strcmp(key, "Protocol") != 0) return;
    if (std::strcmp(value, "Local") == 0) kind = TRANSPORT_LOCAL;
    if (std::strcmp(value, "TCP") == 0) kind = TRANSPORT_TCP;
    if (std::strcmp(value, "DetachedServer") == 0) kind = TRANSPORT_DETACHED_SERVER;
  });
  diagHeapDestroy(parsed.heap);
  if (kind == 0) diagAdd(diag, "HY000", 0, SEVERITY_ERROR, kNoProtocol, nullptr, nullptr);
  return kind;
}

int32_t openEnvironment(DiagContext* diag, const char* text, int32_t length) {
  ParsedString parsed;
  if (!parse(diag, kPairsHeapCapacity, nullptr, 0, &parsed)) return 0;
  int32_t handle = 0;
  if (table.attach(diag)) {
    DispatcherRecord initial{};
    initial.type = HANDLE_ENVIRONMENT;
    initial.pooling = 1;
    initial.pipeEnvironment = transportOf(TRANSPORT_LOCAL)->openEnvironment(diag);
    initial.tcpEnvironment = transportOf(TRANSPORT_TCP)->openEnvironment(diag);
    initial.commandEnvironment = transportOf(TRANSPORT_DETACHED_SERVER)->openEnvironment(diag);
    if (text != nullptr) parseConnectionString(diag, parsed.heap, parsed.pairs, text, length);
    forEachPair(parsed.pairs, [&](const char* key, const char* value) {
      if (std::strcmp(key, "ConnectionPooling") == 0) {
        initial.pooling = std::strcmp(value, "Yes") == 0 ? 1 : 0;
      }
    });
    if (diagStatus(diag) >= 0) handle = table.allocate(diag, initial);
    if (handle == 0) {
      // Nothing stays open: the transports' environments go again.
      freeTransportEnvironments(nullptr, initial);
      table.detach(diag);
    }
  }
  diagHeapDestroy(parsed.heap);
  return handle;
}

int32_t connect(DiagContext* diag, int32_t environment, const char* text, int32_t length,
                int32_t* users) {
  if (table.lookup(diag, environment) == nullptr ||
      !table.checkType(diag, environment, HANDLE_ENVIRONMENT)) {
    return 0;
  }
  DispatcherRecord owner = *table.lookup(diag, environment);
  uint8_t kind = chooseProtocol(diag, text, length);
  if (kind == 0) return 0;
  ConnectionBuffers* buffers = buffersCreate();
  if (buffers == nullptr) return 0;
  ParsedString parsed;
  if (!parse(diag, kPairsHeapCapacity, text, length, &parsed)) {
    buffersDestroy(buffers);
    return 0;
  }
  buffers->heap = parsed.heap;
  buffers->pairs = parsed.pairs;
  int32_t handle = owner.pooling != 0 ? findPooled(environment, parsed.pairs) : 0;
  if (handle != 0) {
    buffersDestroy(buffers);
  } else {
    handle = openConnection(diag, owner, environment, kind, text, length);
    if (handle == 0) {
      buffersDestroy(buffers);
      return 0;
    }
    buffersAttach(handle, buffers);
  }
  DispatcherRecord* record = table.lookup(nullptr, handle);
  int32_t count = ++record->users;
  if (users != nullptr) *users = count;
  return handle;
}

Status send(DiagContext* diag, int32_t connection, const char* data, int32_t length) {
  Route route;
  if (!routeOf(diag, connection, &route)) return transportStatus(diag, STATUS_ERROR);
  if (route.ops == nullptr) return diagStatus(diag);
  return bufferedSend(diag, route.buffers, *route.ops, route.transportConnection, data, length);
}

Status receive(DiagContext* diag, int32_t connection, char* buffer, int32_t length) {
  // The request layer reads one byte per call: a connection with the bytes
  // already buffered is served after one look at its slot.
  const DispatcherRecord* record = table.lookup(nullptr, connection);
  if (record != nullptr && record->type == HANDLE_CONNECTION && length > 0 &&
      takeBuffered(buffersOf(connection), buffer, length)) {
    return diagStatus(diag);
  }
  Route route;
  if (length <= 0) {
    table.checkType(diag, connection, HANDLE_CONNECTION);
    return diagStatus(diag);
  }
  if (!routeOf(diag, connection, &route)) return transportStatus(diag, STATUS_ERROR);
  if (route.ops == nullptr) {
    diagSetStatus(diag, STATUS_NO_DATA);
    return transportStatus(diag, STATUS_NO_DATA);
  }
  return bufferedReceive(diag, route.buffers, *route.ops, route.transportConnection, buffer,
                         length);
}

void releaseConnection(DiagContext* diag, int32_t connection) {
  DispatcherRecord* record = table.lookup(diag, connection);
  if (record == nullptr) return;
  if (--record->users != 0) return;
  const TransportOps* ops = transportOf(record->kind);
  // Bytes still buffered are sent, not dropped with the buffer.
  ConnectionBuffers* buffers = buffersOf(connection);
  if (ops != nullptr && buffers != nullptr && buffers->sendFill > 0) {
    bufferedSend(diag, buffers, *ops, record->transportHandle, nullptr, 0);
  }
  if (ops != nullptr) ops->closeConnection(diag, record->transportHandle);
  buffersFree(connection);
  table.release(diag, connection);
}

Status disconnect(DiagContext* diag, int32_t connection) {
  if (table.checkType(diag, connection, HANDLE_CONNECTION)) releaseConnection(diag, connection);
  return diagStatus(diag);
}

Status freeEnvironment(DiagContext* diag, int32_t environment) {
  DispatcherRecord* record = table.lookup(diag, environment);
  if (record == nullptr || !table.checkType(diag, environment, HANDLE_ENVIRONMENT)) {
    return transportStatus(diag, STATUS_ERROR);
  }
  DispatcherRecord owner = *record;
  int32_t listeners[kHandleCount];
  int32_t connections[kHandleCount];
  int32_t listenerCount = 0;
  int32_t connectionCount = 0;
  table.forEachInUse(diag, [&](DispatcherRecord* slot, int32_t handle) {
    if (slot->parent != environment) return;
    if (slot->type == HANDLE_LISTENER) listeners[listenerCount++] = handle;
    if (slot->type == HANDLE_CONNECTION) connections[connectionCount++] = handle;
  });
  // In ascending handle order, as found.
  for (int32_t i = 0, j = 0; i < listenerCount || j < connectionCount;) {
    bool listenerFirst =
        j == connectionCount || (i < listenerCount && listeners[i] < connections[j]);
    if (listenerFirst) {
      closeListenerRecord(diag, listeners[i++]);
    } else {
      releaseConnection(diag, connections[j++]);
    }
  }
  freeTransportEnvironments(diag, owner);
  table.release(diag, environment);
  table.detach(diag);
  return diagStatus(diag);
}

}  // namespace volsten
