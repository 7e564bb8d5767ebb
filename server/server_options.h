// The command line of volsten-server:
//   volsten-server --root DIR [--listen CONNECTION-STRING]... [--stdio] [--quiet]
#pragma once

#include <cstdint>

#include "server/conversation.h"

namespace volsten {

constexpr int32_t kMaxListeners = 16;

// Without --listen and --stdio the server listens on TCP at the service
// "volsten" of the services database.
constexpr const char* kDefaultListen = "Protocol=TCP";

struct ServerOptions {
  ServerSettings settings;
  const char* listens[kMaxListeners];
  int32_t listenCount;
  bool stdio;
};

// False on a usage error, with *problem saying what is wrong.
bool parseServerOptions(int argc, char** argv, ServerOptions* options, const char** problem);

extern const char* const kServerUsage;

}  // namespace volsten
