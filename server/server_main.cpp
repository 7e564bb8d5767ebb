#include "server/server_main.h"

#include <cstdio>

#include "base/diag.h"
#include "base/list.h"
#include "base/str.h"
#include "net/dispatch/dispatcher.h"
#include "server/conversation.h"
#include "server/server_log.h"
#include "server/server_options.h"
#include "sys/stop_signal.h"

namespace volsten {
namespace {

void logRecords(DiagContext* diag, const char* what) {
  for (void* p = listMove(diag->records, LIST_FIRST, nullptr); p != nullptr;
       p = listMove(diag->records, LIST_NEXT, nullptr)) {
    auto* record = static_cast<DiagRecord*>(p);
    serverLog("%s: %s %d %s", what, record->state, record->native, record->message);
  }
}

// A --stdio server stops once its one client is done.
void serveStandardStreams(int32_t connection, uintptr_t userData) {
  serveAcceptedConnection(connection, userData);
  sysStopRequest();
}

}  // namespace

int serverMain(int argc, char** argv) {
  ServerOptions options;
  const char* problem = nullptr;
  if (!parseServerOptions(argc, argv, &options, &problem)) {
    std::fprintf(stderr, "volsten-server: %s\n%s", problem, kServerUsage);
    return 2;
  }
  if (!sysStopSignalsCatch()) {
    serverLog("cannot catch the stop signals");
    return 1;
  }
  DiagContext* diag = diagCreate(nullptr);
  int32_t environment = openEnvironment(diag, nullptr, 0);
  int32_t listeners[kMaxListeners + 1] = {};
  int32_t count = 0;
  bool started = environment != 0;
  auto user = reinterpret_cast<uintptr_t>(&options.settings);
  for (int32_t i = 0; started && i < options.listenCount; ++i) {
    listeners[count] =
        listen(diag, environment, options.listens[i], NTS, serveAcceptedConnection, user);
    started = listeners[count] != 0;
    if (started) {
      if (!options.settings.quiet) serverLog("listening: %s", options.listens[i]);
      ++count;
    }
  }
  if (started && options.stdio) {
    listeners[count] =
        listen(diag, environment, "Protocol=DetachedServer", NTS, serveStandardStreams, user);
    started = listeners[count++] != 0;
  }
  if (started) {
    sysStopWait();
    if (!options.settings.quiet) serverLog("stopping");
  } else {
    logRecords(diag, "cannot listen");
  }
  for (int32_t i = 0; i < count; ++i) closeListener(nullptr, listeners[i]);
  if (environment != 0) freeEnvironment(nullptr, environment);
  diagFree(diag);
  return started ? 0 : 1;
}

}  // namespace volsten
