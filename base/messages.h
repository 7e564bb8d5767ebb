// The runtime's message catalogue: 62 German texts in Windows-1252, addressed
// by 0-based position, closed by a null entry. Trailing blanks are part of
// the texts.
#pragma once

namespace volsten {

constexpr int kMessageCount = 62;
extern const char* const kMessages[kMessageCount + 1];

// Positions the runtime uses.
constexpr int MSG_CS_DISABLED = 4;   // client/server connections switched off
constexpr int MSG_TRUNCATED = 5;     // a text was cut
constexpr int MSG_MUTEX_CREATE = 38;
constexpr int MSG_MUTEX_RELEASE = 39;
constexpr int MSG_MUTEX_LOCK = 40;
constexpr int MSG_NO_MEMORY = 45;

// The text at position, or null outside 0-61.
const char* messageText(int position);

}  // namespace volsten
