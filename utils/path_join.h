// Joins a directory and a relative name into one path.
#pragma once

#include <cstdint>

#include "base/diag.h"

namespace volsten {

// Joins directory and name into out (outSize bytes, zero-filled first). A
// directory //server/rest on a server configured in the profile is joined by
// the server itself: "//", the server, "/" and the server's answer. The
// local rule, for every other directory: one separator goes between them unless the directory already
// ends in one, and the name's leading separators are dropped; an empty
// directory leaves the name whole, an empty name leaves the directory. A cut
// result is reported to diag as "01004". Returns diagStatus(diag).
Status pathJoin(DiagContext* diag, const char* directory, int32_t directoryLength, const char* name,
                int32_t nameLength, char* out, int32_t outSize);

// The local rule alone, for every directory: what a server's own join uses.
Status pathJoinLocal(DiagContext* diag, const char* directory, int32_t directoryLength,
                     const char* name, int32_t nameLength, char* out, int32_t outSize);

}  // namespace volsten
