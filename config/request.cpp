#include "config/request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/messages.h"
#include "base/str.h"
#include "net/dispatch/dispatcher.h"
#include "net/transport_ops.h"
#include "sys/environment.h"

namespace volsten {
namespace {

// Texts go out through a scratch buffer of this size, so no text of any
// length allocates.
constexpr int32_t kPieceSize = 512;
constexpr int32_t kNumberSize = 100;

bool connectionsSwitchedOff() {
  char value[128];
  if (sysGetEnvironment(kDisableConnectVariable, value, sizeof value) <= 0) return false;
  for (const char* word : {"Y", "y", "Yes", "yes"}) {
    if (std::strcmp(value, word) == 0) return true;
  }
  return false;
}

// The classic values the server's codes stand for; the host's own errno
// numbers are these on every platform the library runs on.
static_assert(EACCES == 13 && EBADF == 9 && EEXIST == 17 && EINVAL == 22 && EMFILE == 24 &&
              ENFILE == 23 && ENOENT == 2 && ENOMEM == 12 && ENOSPC == 28 && EXDEV == 18);

struct ErrorCodeRow {
  int32_t server;
  int32_t local;
};
// Searched from the top; the row of -1s ends it.
constexpr ErrorCodeRow kErrorCodes[] = {
    {0, 0},      {1, EACCES}, {2, EBADF},  {3, EEXIST}, {4, EINVAL},  {5, EMFILE}, {6, ENFILE},
    {7, ENOENT}, {8, ENOMEM}, {9, ENOSPC}, {10, EXDEV}, {11, ENOENT}, {-1, -1},
};

}  // namespace

int32_t openServerConnection(DiagContext* ctx, int32_t environment, const CodeTable* table,
                             const char* connectionString, int32_t length) {
  if (connectionsSwitchedOff()) {
    diagAdd(ctx, "08001", 0, SEVERITY_ERROR, messageText(MSG_CS_DISABLED), nullptr, nullptr);
    return 0;
  }
  int32_t users = 0;
  int32_t connection = connect(ctx, environment, connectionString, length, &users);
  // Only a connection this call opened greets; a shared one already did.
  if (connection != 0 && users == 1) putString(ctx, connection, table, "VOLSTEN", NTS);
  return connection;
}

Status putString(DiagContext* ctx, int32_t connection, const CodeTable* table, const char* text,
                 int32_t length) {
  int32_t n = strLength(text, length);
  char piece[kPieceSize];
  // Every piece is sent even after a failure, so the status of a context
  // that already held an error never cuts a field in two.
  Status worst = STATUS_SUCCESS;
  for (int32_t done = 0; done < n;) {
    int32_t count = std::min(n - done, kPieceSize);
    translateOutbound(table, text + done, count, piece);
    worst = std::min(worst, send(ctx, connection, piece, count));
    done += count;
  }
  worst = std::min(worst, send(ctx, connection, "", 1));
  return transportStatus(ctx, worst);
}

Status getString(DiagContext* ctx, int32_t connection, const CodeTable* table, char* buffer,
                 int32_t size) {
  int32_t room = buffer != nullptr && size > 0 ? size - 1 : 0;
  int32_t stored = 0;
  Status outcome = STATUS_SUCCESS;
  for (;;) {
    char byte = 0;
    outcome = receive(ctx, connection, &byte, 1);
    if (replyFailed(outcome) || byte == '\0') break;
    // The rest of a long field is read and dropped: the stream stays in step.
    if (stored < room) {
      buffer[stored++] = static_cast<char>(translateInboundByte(table, static_cast<uint8_t>(byte)));
    }
  }
  if (buffer != nullptr && size > 0) buffer[stored] = '\0';
  return transportStatus(ctx, outcome);
}

Status putCodeByte(DiagContext* ctx, int32_t connection, uint8_t code) {
  char byte = static_cast<char>(code);
  return send(ctx, connection, &byte, 1);
}

Status flushRequest(DiagContext* ctx, int32_t connection) {
  return send(ctx, connection, nullptr, 0);
}

void putNumber(DiagContext* ctx, int32_t connection, const CodeTable* table, int32_t value) {
  char digits[kNumberSize];
  strFormat(digits, sizeof digits, "%ld", static_cast<long>(value));
  putString(ctx, connection, table, digits, NTS);
}

int32_t getNumber(DiagContext* ctx, int32_t connection, const CodeTable* table) {
  char digits[kNumberSize];
  getString(ctx, connection, table, digits, sizeof digits);
  // strtol's rules with the 32-bit long of the shipped tool: out of range
  // saturates at its limits.
  long long value = std::strtoll(digits, nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

int32_t errnoOfServerCode(int32_t code) {
  for (const ErrorCodeRow& row : kErrorCodes) {
    if (row.server == -1) break;
    if (row.server == code) return row.local;
  }
  return EINVAL;
}

int32_t getErrorCode(DiagContext* ctx, int32_t connection) {
  return errnoOfServerCode(getNumber(ctx, connection, nullptr));
}

Status readReplyStatus(DiagContext* ctx, int32_t connection, const CodeTable* table,
                       DiagContext* target) {
  // The fields are read through a context of their own, so that a failed
  // read reaches target only as the block's outcome.
  DiagContext* scratch = diagCreate(ctx);
  if (scratch == nullptr) return transportStatus(ctx, STATUS_ERROR);
  auto cut = [scratch] { return replyFailed(diagStatus(scratch)); };

  auto code = static_cast<int16_t>(getNumber(scratch, connection, table));
  // After a failed read the stream has nothing more to say.
  int32_t more = cut() ? 1 : getNumber(scratch, connection, table);
  while (more == 0 && !cut()) {
    int32_t kind = getNumber(scratch, connection, table);
    char state[6];
    getString(scratch, connection, table, state, sizeof state);
    int32_t native = getNumber(scratch, connection, table);
    char message[kDiagMessageMax];
    getString(scratch, connection, table, message, sizeof message);
    // A record cut short is no record of the server's.
    if (cut()) break;
    if (kind == SEVERITY_ERROR || kind == SEVERITY_WARNING) {
      diagAdd(target, state, native, static_cast<int16_t>(kind), message, nullptr, nullptr);
    }
    more = getNumber(scratch, connection, table);
  }

  // A block that ended early is not the server's answer, which may have
  // been an error: the conversation fails with the stream's end (100) or
  // with the transport's own records.
  Status outcome = code;
  if (cut()) {
    outcome = diagStatus(scratch);
    diagAddRecords(target, scratch);
  }
  diagSetStatus(target, outcome);
  diagFree(scratch);
  return transportStatus(ctx, outcome);
}

}  // namespace volsten
