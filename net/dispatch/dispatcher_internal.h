// What the dispatcher's operations and its listening side share.
#pragma once

#include <cstdint>

#include "net/dispatch/dispatcher.h"

namespace volsten {

// The operations of a kind; null for a kind that names no transport.
const TransportOps* transportOf(uint8_t kind);

// The kind named by the string's first "Protocol" pair with a known value;
// 0, with "In der Verbindungs Zeichenkette ist kein Protokoll angegeben",
// when there is none (or the scratch heap cannot be made).
uint8_t chooseProtocol(DiagContext* diag, const char* text, int32_t length);

// Drops one user of a connection; the last one closes its transport
// connection, frees its buffers and releases the handle.
void releaseConnection(DiagContext* diag, int32_t connection);

// Closes a listener: releases its connections once, closes the transport's
// listener and releases the handle.
void closeListenerRecord(DiagContext* diag, int32_t listener);

}  // namespace volsten
