#include "config/file_channel.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/diag.h"
#include "base/list.h"
#include "base/str.h"
#include "config/code_table.h"
#include "config/request.h"
#include "config/server_path.h"
#include "net/dispatch/dispatcher.h"
#include "sys/fault.h"

namespace volsten {

namespace {

enum ChannelKind : int32_t { kLocal = 0, kRemote = 1 };

// The server's name for an open file: up to 49 characters.
constexpr int32_t kHandleSize = 50;
constexpr int32_t kPathSize = 512;

// Request codes of the "StdIO" conversation.
constexpr uint8_t kOpen = 1;
constexpr uint8_t kClose = 2;
constexpr uint8_t kReadLine = 5;
constexpr uint8_t kSetTranslation = 7;

}  // namespace

struct FileChannel {
  int32_t kind;
  std::FILE* stream;           // local
  const CodeTable* codeTable;  // local: of the lines read; remote: the server's, on the wire
  DiagContext* context;        // remote: every request of the channel
  int32_t connection;          // remote
  char handle[kHandleSize];    // remote
};

namespace {

// The process's one service: the dispatcher environment every remote
// channel connects under, and the open channels. It is set up by the first
// open and torn down with the last channel. The lock is re-entered by its
// owner; a function-local static is made once, also when the first two
// calls come at the same time.
struct ChannelService {
  int32_t environment;
  KeyedList* open;
};
ChannelService service;

std::recursive_mutex& serviceLock() {
  static std::recursive_mutex lock;
  return lock;
}

bool acquireServiceLocked() {
  if (service.environment == 0) {
    DiagContext* scratch = diagCreate(nullptr);
    service.environment = openEnvironment(scratch, nullptr, 0);
    diagFree(scratch);
    if (service.environment == 0) return false;
  }
  if (service.open == nullptr) {
    DiagContext* scratch = diagCreate(nullptr);
    service.open = diagListCreate(scratch, nullptr);
    diagFree(scratch);
    if (service.open == nullptr) return false;
  }
  return true;
}

void releaseServiceLocked() {
  if (service.open != nullptr && listMove(service.open, LIST_FIRST, nullptr) != nullptr) return;
  DiagContext* scratch = diagCreate(nullptr);
  if (service.environment != 0) freeEnvironment(scratch, service.environment);
  diagListDestroy(service.open);
  service = ChannelService{};
  diagFree(scratch);
}

// A zero-filled record in the open list, with the service set up for it,
// in one hold of the lock: a channel released at the same time on another
// thread cannot free the environment between the two.
FileChannel* newChannel() {
  std::lock_guard<std::recursive_mutex> hold(serviceLock());
  FileChannel* channel = nullptr;
  if (acquireServiceLocked() && !faultShouldFail(FaultPoint::GeneralAlloc)) {
    channel = static_cast<FileChannel*>(std::calloc(1, sizeof(FileChannel)));
  }
  if (channel != nullptr) {
    DiagContext* scratch = diagCreate(nullptr);
    if (diagListAppend(scratch, service.open, channel) != 0) {
      std::free(channel);
      channel = nullptr;
    }
    diagFree(scratch);
  }
  if (channel == nullptr) releaseServiceLocked();
  return channel;
}

// By identity: a pointer that is not an open channel is never read.
bool findChannel(const FileChannel* channel) {
  if (channel == nullptr) return false;
  std::lock_guard<std::recursive_mutex> hold(serviceLock());
  return service.open != nullptr && listMove(service.open, LIST_FIND_ITEM, channel) != nullptr;
}

int32_t serviceEnvironment() {
  std::lock_guard<std::recursive_mutex> hold(serviceLock());
  return service.environment;
}

// Ends the channel, remote conversation included, and the service with
// the last one. errno is left as it was.
void releaseChannel(FileChannel* channel) {
  int saved = errno;
  {
    std::lock_guard<std::recursive_mutex> hold(serviceLock());
    if (listMove(service.open, LIST_FIND_ITEM, channel) != nullptr) listRemove(service.open);
  }
  if (channel->kind == kRemote) {
    if (channel->connection != 0) disconnect(channel->context, channel->connection);
    diagFree(channel->context);
  }
  std::free(channel);
  {
    std::lock_guard<std::recursive_mutex> hold(serviceLock());
    releaseServiceLocked();
  }
  errno = saved;
}

FileChannel* refuse(FileChannel* channel, int error) {
  releaseChannel(channel);
  errno = error;
  return nullptr;
}

bool isStandardStream(const FileChannel* channel) {
  const void* p = channel;
  return p != nullptr && (p == stdin || p == stdout || p == stderr);
}

std::FILE* streamOf(FileChannel* channel) { return reinterpret_cast<std::FILE*>(channel); }

// The record of an open about to be made: null with EINVAL for a missing
// path or mode, with ENOMEM when no record can be set up.
FileChannel* startChannel(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  FileChannel* channel = newChannel();
  if (channel == nullptr) errno = ENOMEM;
  return channel;
}

FileChannel* openStream(FileChannel* channel, const char* path, const char* mode) {
  channel->kind = kLocal;
  channel->stream = std::fopen(path, mode);
  if (channel->stream == nullptr) return refuse(channel, errno);
  return channel;
}

// The "StdIO" conversation's open: the greeting on a new connection, the
// service name, then the path on the server and the mode.
bool connectRemoteChannel(FileChannel* channel, const char* path) {
  char connectString[kPathSize];
  serverConnectString(path, NTS, connectString, sizeof connectString);
  channel->codeTable = serverCodeTable(path, NTS);
  channel->connection = openServerConnection(channel->context, serviceEnvironment(),
                                             channel->codeTable, connectString, NTS);
  // A connection that failed has its reason recorded; sends on handle 0
  // would only add records of the handle check.
  if (channel->connection != 0) {
    putString(channel->context, channel->connection, channel->codeTable, "StdIO", NTS);
  }
  return channel->connection != 0 && diagStatus(channel->context) >= 0;
}

FileChannel* openRemote(FileChannel* channel, const char* path, const char* mode,
                        DiagContext* report) {
  channel->kind = kRemote;
  channel->context = diagCreate(nullptr);
  if (channel->context == nullptr) return refuse(channel, ENOMEM);
  DiagContext* ctx = channel->context;
  auto fail = [&](int error) {
    diagAddRecords(report, ctx);
    return refuse(channel, error);
  };
  if (!connectRemoteChannel(channel, path)) return fail(EINVAL);

  char relative[kPathSize];
  serverRelativePath(path, NTS, relative, sizeof relative);
  int32_t connection = channel->connection;
  const CodeTable* table = channel->codeTable;
  putCodeByte(ctx, connection, kOpen);
  putString(ctx, connection, table, relative, NTS);
  putString(ctx, connection, table, mode, NTS);
  flushRequest(ctx, connection);
  if (diagStatus(ctx) < 0) return fail(EINVAL);

  // One byte more than a handle holds shows a handle that was cut, which
  // would name another file.
  char handle[kHandleSize + 1];
  getString(ctx, connection, table, handle, sizeof handle);
  int32_t code = getErrorCode(ctx, connection);
  if (replyFailed(diagStatus(ctx)) || std::strlen(handle) >= static_cast<size_t>(kHandleSize)) {
    return fail(EIO);
  }
  diagClear(ctx);
  if (std::strcmp(handle, "0") == 0) return refuse(channel, code);
  std::strcpy(channel->handle, handle);
  errno = code;
  return channel;
}

char* readRemoteLine(char* buffer, int32_t size, FileChannel* channel) {
  DiagContext* ctx = channel->context;
  int32_t connection = channel->connection;
  const CodeTable* table = channel->codeTable;
  putCodeByte(ctx, connection, kReadLine);
  putNumber(ctx, connection, table, size);
  putString(ctx, connection, table, channel->handle, NTS);
  flushRequest(ctx, connection);
  // The context keeps the failure: every later request fails alike.
  if (diagStatus(ctx) < 0) {
    errno = EINVAL;
    return nullptr;
  }
  int32_t result = getNumber(ctx, connection, table);
  int32_t code = getErrorCode(ctx, connection);
  if (result != 0) {
    // The server's length bounds the line, and the caller's buffer bounds
    // both; the rest of a longer field is read and dropped.
    int32_t length = getNumber(ctx, connection, table);
    getString(ctx, connection, table, buffer, std::clamp(length, 1, size));
  }
  if (replyFailed(diagStatus(ctx))) {
    errno = EIO;
    return nullptr;
  }
  diagClear(ctx);
  errno = code;
  return result != 0 ? buffer : nullptr;
}

// A request of a remote channel answered by a result and an error code:
// the result, or 1 with EINVAL (not sent) or EIO (no whole reply).
int remoteResult(FileChannel* channel) {
  DiagContext* ctx = channel->context;
  if (diagStatus(ctx) < 0) {
    errno = EINVAL;
    return 1;
  }
  int32_t result = getNumber(ctx, channel->connection, channel->codeTable);
  int32_t code = getErrorCode(ctx, channel->connection);
  if (replyFailed(diagStatus(ctx))) {
    errno = EIO;
    return 1;
  }
  diagClear(ctx);
  errno = code;
  return result;
}

}  // namespace

FileChannel* openChannel(const char* path, const char* mode) {
  return openChannelReporting(path, mode, nullptr);
}

FileChannel* openChannelReporting(const char* path, const char* mode, DiagContext* report) {
  // The record comes first, so that the profile reads below (each a channel
  // of its own) do not set up and tear down the service every time.
  FileChannel* channel = startChannel(path, mode);
  if (channel == nullptr) return nullptr;
  if (isLocalPath(path, NTS)) return openStream(channel, path, mode);
  return openRemote(channel, path, mode, report);
}

FileChannel* openLocalChannel(const char* path, const char* mode) {
  FileChannel* channel = startChannel(path, mode);
  return channel != nullptr ? openStream(channel, path, mode) : nullptr;
}

char* readChannelLine(char* buffer, int32_t size, FileChannel* channel) {
  if (isStandardStream(channel)) return std::fgets(buffer, size, streamOf(channel));
  if (!findChannel(channel)) {
    errno = EBADF;
    return nullptr;
  }
  if (buffer == nullptr || size <= 0) {
    errno = EINVAL;
    return nullptr;
  }
  if (channel->kind == kLocal) {
    char* line = std::fgets(buffer, size, channel->stream);
    if (line != nullptr && channel->codeTable != nullptr) {
      translateInboundText(channel->codeTable, buffer, NTS, buffer, size);
    }
    return line;
  }
  return readRemoteLine(buffer, size, channel);
}

int setChannelTranslation(const char* name, FileChannel* channel) {
  if (isStandardStream(channel)) return 1;
  if (!findChannel(channel)) {
    errno = EBADF;
    return 1;
  }
  if (channel->kind == kLocal) {
    channel->codeTable = getCodeTable(name);
    errno = channel->codeTable != nullptr ? 0 : ENOENT;
    return channel->codeTable != nullptr ? 0 : 1;
  }
  // The server applies the named table on its side; the channel keeps the
  // server's own for the wire.
  DiagContext* ctx = channel->context;
  putCodeByte(ctx, channel->connection, kSetTranslation);
  putString(ctx, channel->connection, channel->codeTable, name, NTS);
  putString(ctx, channel->connection, channel->codeTable, channel->handle, NTS);
  flushRequest(ctx, channel->connection);
  return remoteResult(channel);
}

int closeChannel(FileChannel* channel) {
  if (isStandardStream(channel)) return std::fclose(streamOf(channel));
  if (!findChannel(channel)) {
    errno = EBADF;
    return 1;
  }
  int result = 1;
  if (channel->kind == kLocal) {
    result = std::fclose(channel->stream);
  } else {
    DiagContext* ctx = channel->context;
    putCodeByte(ctx, channel->connection, kClose);
    putString(ctx, channel->connection, channel->codeTable, channel->handle, NTS);
    flushRequest(ctx, channel->connection);
    result = remoteResult(channel);
  }
  releaseChannel(channel);
  return result;
}

FileChannel* standardChannel(std::FILE* stream) {
  auto* channel = reinterpret_cast<FileChannel*>(stream);
  return isStandardStream(channel) ? channel : nullptr;
}

ChannelServiceState channelServiceState() {
  std::lock_guard<std::recursive_mutex> hold(serviceLock());
  return {service.environment, service.open != nullptr ? service.open->count : 0};
}

}  // namespace volsten
