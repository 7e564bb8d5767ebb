// The socket library through the loader, as the TCP transport uses it: the
// real WS2_32 on Windows, the adapters over BSD sockets elsewhere. The cases
// hold on both.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "tests/net/socket_library.h"

namespace volsten {
namespace {

using testing::Connection;
using testing::LoadedWinsock;
using testing::Winsock;

class SocketLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(loaded_.ok()); }
  void TearDown() override { testing::closeConnection(ws(), &c_); }
  const Winsock& ws() const { return loaded_.ws(); }

  LoadedWinsock loaded_;
  Connection c_;
};

// Reads exactly size bytes, as a stream may deliver them in pieces.
std::string receive(const Winsock& ws, SysSocket s, size_t size) {
  std::string got;
  char buffer[64];
  while (got.size() < size) {
    int n = ws.recv(s, buffer, static_cast<int>(sizeof buffer), 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

TEST_F(SocketLibraryTest, LoopbackRoundTrip) {
  ASSERT_TRUE(testing::openConnection(ws(), &c_));
  const std::string request = "request", reply = "the reply";
  ASSERT_EQ(ws().send(c_.client, request.data(), static_cast<int>(request.size()), 0),
            static_cast<int>(request.size()));

  // Only the socket with data is left in the set.
  SysFdSet read = {2, {c_.listener, c_.server}};
  SysTimeval wait = {30, 0};
  ASSERT_EQ(ws().select(0, &read, nullptr, nullptr, &wait), 1);
  ASSERT_EQ(read.count, 1u);
  EXPECT_EQ(read.sockets[0], c_.server);

  EXPECT_EQ(receive(ws(), c_.server, request.size()), request);
  ASSERT_EQ(ws().send(c_.server, reply.data(), static_cast<int>(reply.size()), 0),
            static_cast<int>(reply.size()));
  EXPECT_EQ(receive(ws(), c_.client, reply.size()), reply);

  // The end of the stream reads as 0 bytes.
  ASSERT_EQ(ws().shutdown(c_.client, kSysShutdownBoth), 0);
  char byte;
  EXPECT_EQ(ws().recv(c_.server, &byte, 1, 0), 0);
}

TEST_F(SocketLibraryTest, AcceptTellsThePeerAddress) {
  uint16_t port = 0;
  c_.listener = testing::openListener(ws(), &port);
  ASSERT_NE(c_.listener, kSysInvalidSocket);
  c_.client = ws().socket(kSysAfInet, kSysSockStream, 0);
  SysSockaddr address = testing::loopback(ws(), port);
  ASSERT_EQ(ws().connect(c_.client, &address, sizeof address), 0);

  SysSockaddr peer = {};
  int length = sizeof peer;
  c_.server = ws().accept(c_.listener, &peer, &length);
  ASSERT_NE(c_.server, kSysInvalidSocket);
  EXPECT_EQ(length, 16);
  SysSockaddrIn in;
  std::memcpy(&in, &peer, sizeof in);
  EXPECT_EQ(in.family, kSysAfInet);
  EXPECT_EQ(in.address, ws().inetAddr("127.0.0.1"));
  EXPECT_EQ(ws().htons(in.port), testing::boundPort(ws(), c_.client));
}

TEST_F(SocketLibraryTest, ConnectToAClosedPortIsRefused) {
  // A port that was just free: bound, never listened on, closed again.
  SysSocket probe = ws().socket(kSysAfInet, kSysSockStream, 0);
  SysSockaddr any = testing::loopback(ws(), 0);
  ASSERT_EQ(ws().bind(probe, &any, sizeof any), 0);
  uint16_t port = testing::boundPort(ws(), probe);
  ASSERT_EQ(ws().closeSocket(probe), 0);

  c_.client = ws().socket(kSysAfInet, kSysSockStream, 0);
  SysSockaddr address = testing::loopback(ws(), port);
  EXPECT_EQ(ws().connect(c_.client, &address, sizeof address), kSysSocketError);
  EXPECT_EQ(ws().getLastError(), kSysWsaEconnrefused);
}

TEST_F(SocketLibraryTest, SelectTimesOut) {
  ASSERT_TRUE(testing::openConnection(ws(), &c_));
  SysFdSet read = {1, {c_.server}};
  SysTimeval wait = {0, 1000};
  EXPECT_EQ(ws().select(0, &read, nullptr, nullptr, &wait), 0);
  EXPECT_EQ(read.count, 0u);
}

TEST_F(SocketLibraryTest, NumericNamesGiveTheirAddress) {
  const uint32_t expected = ws().inetAddr("127.0.0.1");
  EXPECT_EQ(ws().inetAddr("not an address"), kSysInaddrNone);

  SysHostent* host = ws().getHostByName("127.0.0.1");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->addressType, kSysAfInet);
  ASSERT_EQ(host->addressLength, 4);
  ASSERT_NE(host->addresses[0], nullptr);
  EXPECT_EQ(std::memcmp(host->addresses[0], &expected, 4), 0);

  char text[] = "127.0.0.1";
  SysSockaddrIn in = {};
  int length = sizeof in;
  ASSERT_EQ(
      ws().stringToAddress(text, kSysAfInet, nullptr, reinterpret_cast<SysSockaddr*>(&in), &length),
      0);
  EXPECT_EQ(in.family, kSysAfInet);
  EXPECT_EQ(in.address, expected);
  EXPECT_EQ(in.port, 0);
}

// A call blocked on a socket that another thread closes.
enum class Blocked { Accept, SelectThenRecv };

class CloseWakesTest : public SocketLibraryTest, public ::testing::WithParamInterface<Blocked> {};

TEST_P(CloseWakesTest, TheBlockedCallReturns) {
  ASSERT_TRUE(testing::openConnection(ws(), &c_));
  SysSocket& target = GetParam() == Blocked::Accept ? c_.listener : c_.server;
  std::promise<void> started, returned;
  std::future<void> hasStarted = started.get_future(), hasReturned = returned.get_future();
  // Owns all it uses: it may outlive a failed test.
  std::thread blocked([w = ws(), s = target, which = GetParam(), started = std::move(started),
                       returned = std::move(returned)]() mutable {
    started.set_value();
    SysFdSet read = {1, {s}};
    char byte;
    if (which == Blocked::Accept) {
      w.accept(s, nullptr, nullptr);
    } else if (w.select(0, &read, nullptr, nullptr, nullptr) > 0) {
      w.recv(s, &byte, 1, 0);
    }
    returned.set_value();
  });
  hasStarted.wait();
  // Gives the call time to block; it must return whether or not it did.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ws().closeSocket(target), 0);
  target = kSysInvalidSocket;
  bool back = hasReturned.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  EXPECT_TRUE(back);
  if (back) {
    blocked.join();
  } else {
    blocked.detach();
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, CloseWakesTest,
                         ::testing::Values(Blocked::Accept, Blocked::SelectThenRecv));

}  // namespace
}  // namespace volsten
