// The server side of the library's conversations: "Base" (joins) and
// "StdIO" (read-only files under the root), one connection at a time per
// thread. Everything a client sends is hostile input: a malformed or cut
// request ends that connection, and nothing reaches outside the root.
#pragma once

#include <cstdint>

namespace volsten {

constexpr int32_t kServerRootSize = 1024;
constexpr int32_t kMaxOpenFiles = 16;

struct ServerSettings {
  char root[kServerRootSize];  // the directory served, as given
  bool quiet;                  // no log lines
};

// Serves the connection (a dispatcher handle) until the client goes, sends
// a request that is not one, or the stream fails; closes what it opened.
void serveConnection(int32_t connection, const ServerSettings& settings);

// A ConnectionHandler for the dispatcher's listen: userData points to the
// ServerSettings.
void serveAcceptedConnection(int32_t connection, uintptr_t userData);

}  // namespace volsten
