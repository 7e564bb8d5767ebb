// Loopback ping-pong of 1-byte and 16192-byte messages: through the TCP
// transport (a listener's handler echoes with the transport's own receive
// and send) against the same exchange over raw sockets of the same socket
// library (an echo thread calling recv and send directly). The difference
// is what the transport costs: handle lookups, and one select per receive.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <thread>

#include "base/str.h"
#include "net/tcp/tcp_transport.h"
#include "net/tcp/winsock.h"

namespace volsten {
namespace {

constexpr int kMaxMessage = 16192;

void transportEcho(int32_t connection, uintptr_t) {
  char buffer[kMaxMessage];
  int32_t n = 0;
  while (tcpReceive(nullptr, connection, buffer, sizeof buffer, &n) == STATUS_SUCCESS && n > 0) {
    tcpSend(nullptr, connection, buffer, n);
  }
}

void BM_TransportPingPong(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  int32_t environment = tcpOpenEnvironment(nullptr);
  int32_t listener =
      tcpListen(nullptr, environment, "Host=127.0.0.1;Port=0", NTS, transportEcho, 0);
  std::string target =
      "Host=127.0.0.1;Port=" + std::to_string(tcpListenerPort(nullptr, listener));
  int32_t connection = tcpConnect(nullptr, environment, target.c_str(), NTS);
  if (connection == 0) {
    state.SkipWithError("no connection");
    return;
  }
  std::string message(static_cast<size_t>(size), 'p');
  char buffer[kMaxMessage];
  for (auto _ : state) {
    tcpSend(nullptr, connection, message.data(), size);
    for (int got = 0; got < size;) {
      int32_t n = 0;
      if (tcpReceive(nullptr, connection, buffer, sizeof buffer, &n) != STATUS_SUCCESS || n <= 0) {
        state.SkipWithError("stream ended");
        break;
      }
      got += n;
    }
  }
  state.SetBytesProcessed(state.iterations() * size * 2);
  tcpFreeEnvironment(nullptr, environment);
}

// Every byte read from the socket straight back.
void rawEcho(SysSocket listening) {
  const WinsockApi& ws = winsockApi();
  SysSocket peer = ws.accept(listening, nullptr, nullptr);
  char buffer[kMaxMessage];
  for (int n; (n = ws.recv(peer, buffer, sizeof buffer, 0)) > 0;) ws.send(peer, buffer, n, 0);
  ws.closeSocket(peer);
}

void BM_RawSocketPingPong(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  if (!winsockLoad()) {
    state.SkipWithError("no socket library");
    return;
  }
  const WinsockApi& ws = winsockApi();
  SysSocket listening = ws.socket(kSysAfInet, kSysSockStream, 0);
  SysSockaddrIn address{};
  address.family = kSysAfInet;
  address.address = ws.inetAddr("127.0.0.1");
  ws.bind(listening, reinterpret_cast<SysSockaddr*>(&address), sizeof address);
  ws.listen(listening, 1);
  int length = sizeof address;
  winsockGetSockName()(listening, reinterpret_cast<SysSockaddr*>(&address), &length);
  std::thread echo(rawEcho, listening);
  SysSocket client = ws.socket(kSysAfInet, kSysSockStream, 0);
  ws.connect(client, reinterpret_cast<SysSockaddr*>(&address), sizeof address);
  std::string message(static_cast<size_t>(size), 'p');
  char buffer[kMaxMessage];
  for (auto _ : state) {
    ws.send(client, message.data(), size, 0);
    for (int got = 0, n; got < size; got += n) {
      n = ws.recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) {
        state.SkipWithError("stream ended");
        break;
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * size * 2);
  ws.closeSocket(client);
  echo.join();
  ws.closeSocket(listening);
  winsockRelease();
}

BENCHMARK(BM_TransportPingPong)->Arg(1)->Arg(kMaxMessage)->UseRealTime();
BENCHMARK(BM_RawSocketPingPong)->Arg(1)->Arg(kMaxMessage)->UseRealTime();

}  // namespace
}  // namespace volsten

BENCHMARK_MAIN();
