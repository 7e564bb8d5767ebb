// The server's log: one line per event on standard error, never on standard
// output, which carries a --stdio client's conversation.
#pragma once

namespace volsten {

void serverLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace volsten
