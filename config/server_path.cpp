#include "config/server_path.h"

#include <cstring>

#include "base/str.h"
#include "config/profile.h"
#include "config/request.h"
#include "net/dispatch/dispatcher.h"

namespace volsten {
namespace {

// The rooms the profile values are read into.
constexpr int32_t kShortValueSize = 256;
constexpr int32_t kValueSize = 512;
constexpr int32_t kServerNameSize = 100;
constexpr int32_t kJoinedSize = 512;

// Request codes of the "Base" conversation.
constexpr uint8_t kResolve = 5;
constexpr uint8_t kFinish = 0;

int32_t serverValue(const char* server, const char* key, char* value, int32_t size) {
  return getProfileString(server, key, "", value, size, kProfileName);
}

// The server name of a (possibly quoted) server path; empty for any other.
void serverNameOf(const char* path, int32_t length, char* server, int32_t size) {
  const char* start;
  int32_t startLength;
  unquotePath(path, length, &start, &startLength);
  splitServerPath(start, startLength, nullptr, 0, server, size);
}

}  // namespace

void splitServerPath(const char* path, int32_t length, char* rest, int32_t restSize, char* server,
                     int32_t serverSize) {
  bool wantRest = rest != nullptr && restSize > 0;
  bool wantServer = server != nullptr && serverSize > 0;
  if (wantRest) std::memset(rest, 0, static_cast<size_t>(restSize));
  if (wantServer) std::memset(server, 0, static_cast<size_t>(serverSize));
  int32_t n = strTrimmedLength(path, length);
  if (n == 0) return;
  if (n < 3 || !isPathSeparator(path[0]) || !isPathSeparator(path[1])) {
    if (wantRest) strCopy(nullptr, rest, restSize, path, length);
    return;
  }
  int32_t i = 2;
  int32_t stored = 0;
  for (; i < n && !isPathSeparator(path[i]); ++i) {
    if (wantServer && stored < serverSize - 1) server[stored++] = path[i];
  }
  ++i;  // the separator after the name
  if (wantRest && i < n) strCopy(nullptr, rest, restSize, path + i, n - i);
}

void unquotePath(const char* text, int32_t length, const char** start, int32_t* startLength) {
  *start = text;
  *startLength = length;
  int32_t n = strTrimmedLength(text, length);
  if (n < 1 || (text[0] != '"' && text[0] != '\'')) return;
  *start = text + 1;
  *startLength = n - 1;
  if (n > 1 && text[n - 1] == text[0]) --*startLength;
}

int hasServerConnect(const char* server, int32_t length) {
  if (strTrimmedLength(server, length) == 0) return 0;
  char name[kValueSize];
  strCopy(nullptr, name, sizeof name, server, length);
  char value[kShortValueSize];
  return serverValue(name, "Connect", value, sizeof value) != 0 ? 1 : 0;
}

int isLocalPath(const char* path, int32_t length) {
  const char* start;
  int32_t startLength;
  unquotePath(path, length, &start, &startLength);
  char rest[kShortValueSize];
  char server[kServerNameSize];
  splitServerPath(start, startLength, rest, sizeof rest, server, sizeof server);
  if (rest[0] == '\0' || server[0] == '\0') return 1;
  char value[kValueSize];
  return serverValue(server, "Connect", value, sizeof value) == 0 ? 1 : 0;
}

int serverRelativePath(const char* path, int32_t length, char* out, int32_t outSize) {
  const char* start;
  int32_t startLength;
  unquotePath(path, length, &start, &startLength);
  splitServerPath(start, startLength, out, outSize, nullptr, 0);
  return 1;
}

const CodeTable* serverCodeTable(const char* path, int32_t length) {
  char server[kServerNameSize];
  serverNameOf(path, length, server, sizeof server);
  if (server[0] == '\0') return nullptr;
  char value[kValueSize];
  if (serverValue(server, "CodeTranslation", value, sizeof value) <= 0) return nullptr;
  return getCodeTable(value);
}

int serverConnectString(const char* path, int32_t length, char* out, int32_t outSize) {
  char server[kServerNameSize];
  serverNameOf(path, length, server, sizeof server);
  if (server[0] == '\0') return 0;
  char value[kValueSize];
  if (serverValue(server, "Connect", value, sizeof value) == 0) return 0;
  strCopy(nullptr, out, outSize, value, NTS);
  return 1;
}

Status resolveBase(DiagContext* ctx, const char* server, const char* directory,
                   int32_t directoryLength, const char* name, int32_t nameLength, char* out,
                   int32_t outSize) {
  if (out != nullptr && outSize > 0) std::memset(out, 0, static_cast<size_t>(outSize));
  char connectString[kShortValueSize];
  if (serverValue(server, "Connect", connectString, sizeof connectString) == 0) {
    return diagStatus(ctx);
  }
  char codeName[kShortValueSize];
  const CodeTable* table = nullptr;
  if (serverValue(server, "CodeTranslation", codeName, sizeof codeName) > 0) {
    table = getCodeTable(codeName);
  }
  // The conversation's outcome decides whether the answer is used, so a
  // caller without a context gets one for the length of the conversation:
  // without it a reply cut short would read as a success.
  DiagContext* conversation = ctx != nullptr ? ctx : diagCreate(nullptr);
  if (conversation == nullptr) return STATUS_ERROR;

  int32_t environment = openEnvironment(conversation, nullptr, 0);
  int32_t connection = openServerConnection(conversation, environment, table, connectString, NTS);
  putString(conversation, connection, table, "Base", NTS);
  putCodeByte(conversation, connection, kResolve);
  putString(conversation, connection, table, directory, directoryLength);
  putString(conversation, connection, table, name, nameLength);
  flushRequest(conversation, connection);

  char joined[kJoinedSize];
  getString(conversation, connection, table, joined, sizeof joined);
  readReplyStatus(conversation, connection, table, conversation);
  if (!replyFailed(diagStatus(conversation))) {
    strCopy(ctx, out, outSize, joined, NTS);
    putCodeByte(conversation, connection, kFinish);
    flushRequest(conversation, connection);
  }

  // The teardown runs whatever happened, also on handles that are 0, and
  // reports nowhere.
  DiagContext* scratch = diagCreate(nullptr);
  disconnect(scratch, connection);
  freeEnvironment(scratch, environment);
  diagFree(scratch);

  Status status = diagStatus(conversation);
  if (conversation != ctx) diagFree(conversation);
  return ctx != nullptr ? diagStatus(ctx) : status;
}

}  // namespace volsten
