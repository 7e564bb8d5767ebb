// Request messages: the wire layout of every exchange with a server, over a
// connection of the dispatcher.
//
// A conversation is a stream of fields with no lengths and no framing: a
// string field is its bytes and one 0x00; a number field is a string field
// holding the value in decimal ("%ld"); a code byte is one raw byte that
// selects a request, written by the caller with the dispatcher's send, as is
// the flush (send with length 0) that ends each request. Text, number
// digits included, passes through the server's CodeTable both ways; code
// bytes never do. A null table means no translation.
//
// After each call the caller reads diagStatus of its context to learn
// whether the exchange failed; calls without a context return the outcome
// instead.
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "config/code_table.h"

namespace volsten {

// The variable that switches client/server use off ("Y", "y", "Yes" or
// "yes", exactly).
constexpr const char* kDisableConnectVariable = "VOLSTEN_ZUL_DISABLE_CONNECT";

// Connects through the dispatcher with the connection string; a connection
// this call opened (not one shared from the pool) gets the greeting
// "VOLSTEN" first, unflushed. 0 when switched off ("08001") or when the
// dispatcher could not connect.
int32_t openServerConnection(DiagContext* ctx, int32_t environment, const CodeTable* table,
                             const char* connectionString, int32_t length);

// The text (a counted string, sent whole, trailing blanks included) and its
// 0x00, in pieces of at most 512 bytes.
Status putString(DiagContext* ctx, int32_t connection, const CodeTable* table, const char* text,
                 int32_t length);

// Reads a whole string field, storing at most size - 1 bytes and a NUL in
// buffer (none when buffer is null or size is 0); the rest of the field is
// read and dropped. A stream that ends or fails inside the field ends the
// read with what was stored.
Status getString(DiagContext* ctx, int32_t connection, const CodeTable* table, char* buffer,
                 int32_t size);

void putNumber(DiagContext* ctx, int32_t connection, const CodeTable* table, int32_t value);

// A number field read with strtol's base-10 rules, saturated at the 32-bit
// limits; 0 when nothing (or no digit) arrived.
int32_t getNumber(DiagContext* ctx, int32_t connection, const CodeTable* table);

// A server's error code (an untranslated number field) as the local errno
// value; codes outside the table give EINVAL (22).
int32_t getErrorCode(DiagContext* ctx, int32_t connection);

// A code byte, which selects a request, and the flush that ends one; the
// dispatcher's send underneath.
Status putCodeByte(DiagContext* ctx, int32_t connection, uint8_t code);
Status flushRequest(DiagContext* ctx, int32_t connection);

// True for a status that says a reply did not arrive whole: an error, or
// the stream's end (no data).
inline bool replyFailed(Status status) { return status < 0 || status == STATUS_NO_DATA; }

// The error-code table alone.
int32_t errnoOfServerCode(int32_t code);

// Reads a reply status block (a return code, then records while "more" is
// 0) and moves its status and records into target (callers pass ctx). A
// block cut short by the stream's end or failure is not the server's
// answer: target then gets no data (100), or the transport's error record.
Status readReplyStatus(DiagContext* ctx, int32_t connection, const CodeTable* table,
                       DiagContext* target);

}  // namespace volsten
