// Bulk receive over loopback TCP: 1 MB per iteration, asked for with a
// 1-byte request and answered by one raw producer in 16192-byte sends.
// Received through the dispatcher once a byte per receive (what the
// connection's receive buffer exists for: byte-sized reads must not each
// cost a transport call) and once in 16192-byte receives, against the same
// bytes read straight from a raw socket of the same socket library. Only
// the receiving side differs, so the gap between the block read and the raw
// read is what the buffering layer costs. The producer sends without Nagle's
// delay, so that its last small piece of each megabyte does not wait for an
// acknowledgement and the figures measure receiving, not TCP timers.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <string>
#include <thread>

#include "base/str.h"
#include "net/dispatch/dispatcher.h"
#include "net/tcp/winsock.h"

namespace volsten {
namespace {

constexpr int32_t kBlock = 16192;
constexpr int32_t kTotal = 1 << 20;

// Byte i of every answer; 251 is prime, so a block that lands shifted
// shows in its bytes.
char patternByte(int32_t i) { return static_cast<char>(i % 251); }

const std::array<char, kTotal>& answer() {
  static const std::array<char, kTotal> bytes = [] {
    std::array<char, kTotal> filled{};
    for (int32_t i = 0; i < kTotal; ++i) filled[i] = patternByte(i);
    return filled;
  }();
  return bytes;
}

// Accepts one client, then answers every 1-byte request with the megabyte
// until the client closes.
void produce(SysSocket listening) {
  const WinsockApi& ws = winsockApi();
  SysSocket peer = ws.accept(listening, nullptr, nullptr);
  if (peer == kSysInvalidSocket) return;
  int on = 1;
  ws.setSockOpt(peer, kSysIpProtoTcp, kSysTcpNoDelay, reinterpret_cast<const char*>(&on),
                sizeof on);
  const char* bytes = answer().data();
  char request = 0;
  while (ws.recv(peer, &request, 1, 0) == 1) {
    bool failed = false;
    for (int32_t sent = 0; sent < kTotal && !failed;) {
      int n = ws.send(peer, bytes + sent, std::min(kBlock, kTotal - sent), 0);
      failed = n <= 0;
      if (!failed) sent += n;
    }
    if (failed) break;
  }
  ws.closeSocket(peer);
}

// The producer on a free loopback port, for one client.
class Producer {
 public:
  Producer() {
    if (!winsockLoad()) return;
    loaded_ = true;
    const WinsockApi& ws = winsockApi();
    listening_ = ws.socket(kSysAfInet, kSysSockStream, 0);
    address_.family = kSysAfInet;
    address_.address = ws.inetAddr("127.0.0.1");
    int length = sizeof address_;
    if (ws.bind(listening_, reinterpret_cast<SysSockaddr*>(&address_), sizeof address_) != 0 ||
        ws.listen(listening_, 1) != 0 ||
        winsockGetSockName()(listening_, reinterpret_cast<SysSockaddr*>(&address_), &length) != 0) {
      return;
    }
    thread_ = std::thread(produce, listening_);
  }
  // The client has closed by now, which ends the producer.
  ~Producer() {
    if (thread_.joinable()) thread_.join();
    if (loaded_) {
      winsockApi().closeSocket(listening_);
      winsockRelease();
    }
  }
  bool ready() const { return thread_.joinable(); }
  const SysSockaddrIn& address() const { return address_; }
  std::string target() const {
    return "Protocol=TCP;Host=127.0.0.1;Port=" + std::to_string(winsockApi().htons(address_.port));
  }

 private:
  bool loaded_ = false;
  SysSocket listening_ = kSysInvalidSocket;
  SysSockaddrIn address_{};
  std::thread thread_;
};

// A dispatcher connection to the producer.
struct DispatcherClient {
  int32_t environment = 0;
  int32_t connection = 0;

  bool open(const Producer& producer) {
    environment = openEnvironment(nullptr, nullptr, 0);
    if (environment == 0) return false;
    connection = connect(nullptr, environment, producer.target().c_str(), NTS);
    return connection != 0;
  }
  ~DispatcherClient() {
    if (connection != 0) disconnect(nullptr, connection);
    if (environment != 0) freeEnvironment(nullptr, environment);
  }
  bool request() {
    const char ask = 'r';
    return send(nullptr, connection, &ask, 1) == STATUS_SUCCESS &&
           send(nullptr, connection, nullptr, 0) == STATUS_SUCCESS;
  }
};

void BM_ReceiveByteByByte(benchmark::State& state) {
  Producer producer;
  DispatcherClient client;
  if (!producer.ready() || !client.open(producer)) {
    state.SkipWithError("no dispatcher connection");
    return;
  }
  for (auto _ : state) {
    if (!client.request()) {
      state.SkipWithError("request not sent");
      break;
    }
    // A running sum of the bytes: one add per receive call, and a lost or
    // repeated byte changes it.
    uint32_t sum = 0;
    uint32_t expected = 0;
    int32_t got = 0;
    for (; got < kTotal; ++got) {
      char byte = 0;
      if (receive(nullptr, client.connection, &byte, 1) != STATUS_SUCCESS) break;
      sum += static_cast<uint8_t>(byte);
      expected += static_cast<uint8_t>(patternByte(got));
    }
    if (got != kTotal || sum != expected) {
      state.SkipWithError(got != kTotal ? "stream ended early" : "wrong bytes");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kTotal});
}

void BM_ReceiveInBlocks(benchmark::State& state) {
  Producer producer;
  DispatcherClient client;
  if (!producer.ready() || !client.open(producer)) {
    state.SkipWithError("no dispatcher connection");
    return;
  }
  std::array<char, kBlock> buffer{};
  for (auto _ : state) {
    if (!client.request()) {
      state.SkipWithError("request not sent");
      break;
    }
    int32_t got = 0;
    while (got < kTotal) {
      int32_t piece = std::min(kBlock, kTotal - got);
      if (receive(nullptr, client.connection, buffer.data(), piece) != STATUS_SUCCESS) break;
      got += piece;
    }
    // The last byte of the megabyte ends the last block.
    if (got != kTotal || buffer[(kTotal - 1) % kBlock] != patternByte(kTotal - 1)) {
      state.SkipWithError(got != kTotal ? "stream ended early" : "wrong bytes");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kTotal});
}

void BM_RawSocketReceive(benchmark::State& state) {
  Producer producer;
  if (!producer.ready()) {
    state.SkipWithError("no socket library");
    return;
  }
  const WinsockApi& ws = winsockApi();
  SysSocket client = ws.socket(kSysAfInet, kSysSockStream, 0);
  if (ws.connect(client, reinterpret_cast<const SysSockaddr*>(&producer.address()),
                 sizeof(SysSockaddrIn)) != 0) {
    state.SkipWithError("no raw connection");
  }
  std::array<char, kBlock> buffer{};
  for (auto _ : state) {
    const char ask = 'r';
    if (ws.send(client, &ask, 1, 0) != 1) {
      state.SkipWithError("request not sent");
      break;
    }
    int32_t got = 0;
    // Never more than the megabyte's rest, as the dispatcher asks.
    while (got < kTotal) {
      int n = ws.recv(client, buffer.data(), std::min(kBlock, kTotal - got), 0);
      if (n <= 0) break;
      got += n;
    }
    if (got != kTotal) {
      state.SkipWithError("stream ended early");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kTotal});
  ws.closeSocket(client);
}

BENCHMARK(BM_ReceiveByteByByte)->UseRealTime();
BENCHMARK(BM_ReceiveInBlocks)->UseRealTime();
BENCHMARK(BM_RawSocketReceive)->UseRealTime();

}  // namespace
}  // namespace volsten

BENCHMARK_MAIN();
