// Server paths: //server/rest (a slash or a backslash in each separator's
// place). A server counts as configured when its section of the profile has
// a non-empty "Connect" value, the connection string that reaches it; its
// "CodeTranslation" value names the code table of the text exchanged with
// it. Files on a configured server are opened through the server, and a
// directory on one is joined by the server itself (the "Base" conversation).
#pragma once

#include <cstdint>

#include "base/diag.h"
#include "config/code_table.h"

namespace volsten {

// The server name and the rest after its separator (trailing blanks
// excluded). A text that is no server path goes whole into rest, with an
// empty server. Either output may be null (or of size 0); both are
// zero-filled first, and a name that does not fit is cut without notice.
void splitServerPath(const char* path, int32_t length, char* rest, int32_t restSize, char* server,
                     int32_t serverSize);

// The text without one pair of surrounding quotes (" or '); without a
// closing quote, everything after the opening one.
void unquotePath(const char* text, int32_t length, const char** start, int32_t* startLength);

// 1 when the server (a counted string) has a "Connect" value, else 0.
int hasServerConnect(const char* server, int32_t length);

// 1 unless the path names a file on a configured server: an empty server
// name or an empty rest, too, is local.
int isLocalPath(const char* path, int32_t length);

// The rest of a server path (the whole text of any other path); always 1.
int serverRelativePath(const char* path, int32_t length, char* out, int32_t outSize);

// The code table of the path's server, or null.
const CodeTable* serverCodeTable(const char* path, int32_t length);

// The "Connect" value of the path's server into out and 1, or 0.
int serverConnectString(const char* path, int32_t length, char* out, int32_t outSize);

// Asks the server (NUL-terminated name) to join directory and name, and
// stores its answer in out (zero-filled first; a cut is "01004"). The
// server's records go into ctx; a failed conversation leaves out empty,
// also when ctx is null.
Status resolveBase(DiagContext* ctx, const char* server, const char* directory,
                   int32_t directoryLength, const char* name, int32_t nameLength, char* out,
                   int32_t outSize);

}  // namespace volsten
