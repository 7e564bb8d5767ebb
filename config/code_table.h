// Code translation: named pairs of 256-byte tables that translate text
// between the local character code and a server's (or a file's). Outbound
// applies to text sent to a server, inbound to text received and to lines
// read from a translated local file. An entry of 0 leaves its byte as it is,
// so no byte ever translates into 0.
//
// Tables are loaded from code translation files into a process-wide registry
// of ten, and stay there, unchanged, for the life of the process: callers
// hold plain pointers. A null table everywhere means no translation.
#pragma once

#include <cstdint>

namespace volsten {

constexpr int kCodeTableCount = 10;
constexpr int32_t kCodeTableNameSize = 512;  // 511 characters and a NUL

struct CodeTable {
  char name[kCodeTableNameSize];  // the file name it was loaded under: its identity
  uint8_t outbound[256];
  uint8_t inbound[256];
};

// The table registered under name (compared as counted strings: trailing
// blanks do not count), loaded on first use. Null for an empty name, a file
// that cannot be read (tried again on the next call), a name longer than 511
// characters, or a full registry. Safe to call from several threads.
const CodeTable* getCodeTable(const char* name);

// Loads the file name into the next free entry, even if the name is loaded
// already; null as for getCodeTable.
const CodeTable* loadCodeTable(const char* name);

// Writes count bytes of text into buffer, each through the outbound table.
void translateOutbound(const CodeTable* table, const char* text, int32_t count, char* buffer);

uint8_t translateInboundByte(const CodeTable* table, uint8_t byte);

// Translates the text into buffer (which may be text itself), at most
// size - 1 characters, and returns the number of characters without the
// trailing blanks and NUL bytes, which a table drops. The result is
// NUL-terminated when length is NTS or when no table is given; with a
// positive length and a table only the bytes are written, so a region of a
// larger text can be translated in place.
int32_t translateInboundText(const CodeTable* table, const char* text, int32_t length, char* buffer,
                             int32_t size);

// Test seam: forgets every registered table, as in a new process. Pointers
// handed out before become meaningless.
void codeTableSeamClear();

}  // namespace volsten
