// Ping-pong of 1-byte and 16192-byte messages over a local pipe: through
// the pipe transport (a listener's handler echoes with the transport's own
// receive and send) against the same exchange over raw pipe ends of the
// platform layer (an echo thread reading and writing directly). The
// difference is what the transport costs: handle lookups and the checks of
// each call.
#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "base/str.h"
#include "net/pipe/pipe_transport.h"
#include "sys/named_pipe.h"

namespace volsten {
namespace {

constexpr int kMaxMessage = 16192;

std::string benchName(const char* base) {
  char name[512];
  return sysLocalPipeName(base, name, sizeof name) ? name : "";
}

void transportEcho(int32_t connection, uintptr_t) {
  char buffer[kMaxMessage];
  int32_t n = 0;
  while (pipeReceive(nullptr, connection, buffer, sizeof buffer, &n) == STATUS_SUCCESS && n > 0) {
    pipeSend(nullptr, connection, buffer, n);
  }
}

void BM_TransportPingPong(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  std::string text = "Path=" + benchName(size == 1 ? "transport-1" : "transport-n");
  int32_t environment = pipeOpenEnvironment(nullptr);
  int32_t listener = pipeListen(nullptr, environment, text.c_str(), NTS, transportEcho, 0);
  int32_t connection = pipeConnect(nullptr, environment, text.c_str(), NTS);
  if (listener == 0 || connection == 0) {
    state.SkipWithError("no connection");
    pipeFreeEnvironment(nullptr, environment);
    return;
  }
  std::string message(static_cast<size_t>(size), 'p');
  char buffer[kMaxMessage];
  for (auto _ : state) {
    pipeSend(nullptr, connection, message.data(), size);
    for (int got = 0; got < size;) {
      int32_t n = 0;
      if (pipeReceive(nullptr, connection, buffer, sizeof buffer, &n) != STATUS_SUCCESS) {
        state.SkipWithError("stream ended");
        break;
      }
      got += n;
    }
  }
  state.SetBytesProcessed(state.iterations() * size * 2);
  pipeFreeEnvironment(nullptr, environment);
}

// Every byte read from the instance straight back.
void rawEcho(SysNamedPipe instance) {
  if (sysNamedPipeAccept(instance) != SysPipeAccept::Connected) return;
  char buffer[kMaxMessage];
  uint32_t n = 0;
  while (sysNamedPipeRead(instance, buffer, sizeof buffer, &n) == SysPipeIo::Done && n > 0) {
    sysNamedPipeWrite(instance, buffer, n);
  }
}

void BM_RawPipePingPong(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  std::string name = benchName(size == 1 ? "raw-1" : "raw-n");
  SysNamedPipe instance = kSysNoNamedPipe;
  if (!sysNamedPipeCreate(name.c_str(), true, 1, &instance)) {
    state.SkipWithError("no pipe");
    return;
  }
  std::thread echo(rawEcho, instance);
  SysNamedPipe client = kSysNoNamedPipe;
  SysPipeOpen opened;
  do {
    opened = sysNamedPipeOpen(name.c_str(), 5000, &client);
  } while (opened == SysPipeOpen::TryAgain);
  std::string message(static_cast<size_t>(size), 'p');
  char buffer[kMaxMessage];
  for (auto _ : state) {
    if (opened != SysPipeOpen::Opened) {
      state.SkipWithError("no connection");
      break;
    }
    sysNamedPipeWrite(client, message.data(), static_cast<uint32_t>(size));
    for (uint32_t got = 0, n = 0; got < static_cast<uint32_t>(size); got += n) {
      if (sysNamedPipeRead(client, buffer, sizeof buffer, &n) != SysPipeIo::Done || n == 0) {
        state.SkipWithError("stream ended");
        break;
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * size * 2);
  // Either close ends the echo thread: the client's makes its read see the
  // end, the instance's wakes its wait for a client that never came.
  sysNamedPipeClose(opened == SysPipeOpen::Opened ? client : instance);
  echo.join();
  if (opened == SysPipeOpen::Opened) sysNamedPipeClose(instance);
}

BENCHMARK(BM_TransportPingPong)->Arg(1)->Arg(kMaxMessage)->UseRealTime();
BENCHMARK(BM_RawPipePingPong)->Arg(1)->Arg(kMaxMessage)->UseRealTime();

}  // namespace
}  // namespace volsten

BENCHMARK_MAIN();
