// The TCP transport against a real listener on the loopback interface.
#include "net/tcp/tcp_transport.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "net/tcp/winsock.h"
#include "sys/fault.h"
#include "tests/net/tcp_peer.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using testing::eventually;
using testing::LoopbackServer;
using testing::SeenRecord;

const char kConnectFailure[] = "TCP Verbindungsfehler (connect): ";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

using TcpTest = LoopbackServer;

TEST_F(TcpTest, RoundTripThroughTheListenersHandler) {
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0) << messages();
  ASSERT_EQ(tcpSend(diag_, connection, "ping", 4), STATUS_SUCCESS);
  std::string reply;
  ASSERT_EQ(receive(connection, &reply), STATUS_SUCCESS) << messages();
  EXPECT_EQ(reply, "ping");
  EXPECT_EQ(tcpCloseConnection(diag_, connection), STATUS_SUCCESS);
  EXPECT_TRUE(eventually([&] { return echo_.running == 0; }));
  EXPECT_EQ(echo_.served, 1);
}

// Which pairs decide where a client connects. Every string that should
// reach the server names its port through {port}.
struct TargetCase {
  const char* name;
  const char* text;
  bool reaches;
};

class TcpTargetTest : public LoopbackServer, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TcpTargetTest, ConnectsOnlyWhereThePairsPoint) {
  int32_t connection = connect(GetParam().text);
  if (GetParam().reaches) {
    ASSERT_NE(connection, 0) << messages();
    ASSERT_EQ(tcpSend(diag_, connection, "x", 1), STATUS_SUCCESS);
    std::string reply;
    EXPECT_EQ(receive(connection, &reply), STATUS_SUCCESS);
    EXPECT_EQ(reply, "x");
    EXPECT_EQ(messages(), "");
    tcpCloseConnection(diag_, connection);
  } else {
    EXPECT_EQ(connection, 0);
    std::vector<SeenRecord> records = testing::recordsOf(diag_);
    ASSERT_FALSE(records.empty());
    const SeenRecord& last = records.back();
    EXPECT_EQ(last.state, "HY000");
    EXPECT_EQ(last.severity, SEVERITY_ERROR);
    ASSERT_TRUE(startsWith(last.message, kConnectFailure)) << last.message;
    std::string number = last.message.substr(sizeof kConnectFailure - 1);
    EXPECT_FALSE(number.empty());
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << number;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, TcpTargetTest,
    ::testing::Values(
        TargetCase{"DottedHost", "Host=127.0.0.1;Port={port}", true},
        TargetCase{"LocalhostLookedUp", "Host=localhost;Port={port}", true},
        TargetCase{"ServerNameAlone", "ServerName=127.0.0.1;Port={port}", true},
        TargetCase{"HostAfterServerNameWins", "ServerName=no.such.host.invalid;Host=127.0.0.1;Port={port}",
                   true},
        TargetCase{"ServerNameAfterHostIgnored",
                   "Host=127.0.0.1;ServerName=no.such.host.invalid;Port={port}", true},
        TargetCase{"KeysAreCaseSensitive", "Host=127.0.0.1;Port={port};port=1;HOST=10.0.0.1", true},
        TargetCase{"LastPortCounts", "Host=127.0.0.1;Port=1;Port={port}", true},
        TargetCase{"UnknownHost", "Host=no.such.host.invalid;Port={port}", false},
        TargetCase{"PortZero", "Host=127.0.0.1;Port=0", false},
        TargetCase{"NegativePort", "Host=127.0.0.1;Port=-5", false},
        TargetCase{"PortBeyond16Bits", "Host=127.0.0.1;Port=70000", false},
        TargetCase{"UnknownServiceName", "Host=127.0.0.1;Port=no-such-service", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TcpTest, ARefusedConnectReportsTheNumberAndResetsIt) {
  // The listener's port, once the listener is gone, refuses.
  ASSERT_EQ(tcpCloseListener(diag_, listener_), STATUS_SUCCESS);
  ASSERT_TRUE(eventually([&] { return tcpHandles().lookup(nullptr, listener_) == nullptr; }));
  EXPECT_EQ(connect("Host=127.0.0.1;Port={port}"), 0);
  std::vector<SeenRecord> records = testing::recordsOf(diag_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, std::string(kConnectFailure) + "10061");
  EXPECT_EQ(winsockApi().getLastError(), 0);
}

TEST_F(TcpTest, LongValuesAreCutWithAWarning) {
  // 127 zeros survive the cut; the port digits after them do not.
  std::string text = "Host=127.0.0.1;Port=" + std::string(127, '0') + "{port}";
  EXPECT_EQ(connect(text), 0);
  std::vector<SeenRecord> records = testing::recordsOf(diag_);
  ASSERT_EQ(records.size(), 2u) << messages();
  EXPECT_EQ(records[0].state, "01004");
  EXPECT_TRUE(startsWith(records[1].message, kConnectFailure));
}

TEST_F(TcpTest, PeerCloseIsNoDataWithoutARecord) {
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0);
  ASSERT_EQ(tcpSend(diag_, connection, "Q", 1), STATUS_SUCCESS);
  int32_t count = -7;
  EXPECT_EQ(receive(connection, nullptr, &count), STATUS_NO_DATA);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(messages(), "");
  tcpCloseConnection(diag_, connection);
}

TEST_F(TcpTest, ReceiveTimeoutOnASilentPeer) {
  int32_t connection = connect("Host=127.0.0.1;Port={port};ReceiveTimeout=1");
  ASSERT_NE(connection, 0);
  int32_t count = -7;
  EXPECT_EQ(receive(connection, nullptr, &count), STATUS_ERROR);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(messages(), "HY000 Timeout beim Warten auf Daten erreicht\n");
  tcpCloseConnection(diag_, connection);
}

// These values set no limit: a reply that comes later than one second still
// arrives.
class TcpNoTimeoutTest : public LoopbackServer, public ::testing::WithParamInterface<const char*> {};

TEST_P(TcpNoTimeoutTest, WaitsForALateReply) {
  int32_t connection = connect(std::string("Host=127.0.0.1;Port={port};ReceiveTimeout=") + GetParam());
  ASSERT_NE(connection, 0);
  ASSERT_EQ(tcpSend(diag_, connection, "D", 1), STATUS_SUCCESS);
  std::string reply;
  EXPECT_EQ(receive(connection, &reply), STATUS_SUCCESS) << messages();
  EXPECT_EQ(reply, "D");
  tcpCloseConnection(diag_, connection);
}

INSTANTIATE_TEST_SUITE_P(Values, TcpNoTimeoutTest, ::testing::Values("0", "-3", "soon"));

TEST_F(TcpTest, ReceiveIntoNoRoomIsRefused) {
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0);
  char byte;
  int32_t count = 0;
  EXPECT_EQ(tcpReceive(diag_, connection, &byte, 0, &count), STATUS_ERROR);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(messages(), "HY000 TCP Verbindungsfehler (recv): 10022\n");
  tcpCloseConnection(diag_, connection);
}

TEST_F(TcpTest, ClosedConnectionHandleIsRefused) {
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0);
  // The server's own handle for it is taken first, so that it cannot take
  // the freed one.
  ASSERT_TRUE(eventually([&] { return echo_.served == 1; }));
  ASSERT_EQ(tcpCloseConnection(diag_, connection), STATUS_SUCCESS);
  EXPECT_EQ(tcpSend(diag_, connection, "x", 1), STATUS_ERROR);
  EXPECT_EQ(tcpSend(nullptr, connection, "x", 1), STATUS_ERROR);
  EXPECT_EQ(messages(), "HY000 Ung\xfcltiges Handle\n");
}

TEST_F(TcpTest, CloseListenerEndsItsThreadAndItsConnections) {
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0);
  ASSERT_EQ(tcpSend(diag_, connection, "S", 1), STATUS_SUCCESS);
  ASSERT_TRUE(eventually([&] { return echo_.running == 1; }));
  ASSERT_EQ(tcpCloseListener(diag_, listener_), STATUS_SUCCESS);
  // The handler's receive ends as no data, its connection is closed, and
  // the listener thread releases the listener.
  EXPECT_TRUE(eventually([&] { return echo_.running == 0; }));
  EXPECT_EQ(echo_.lastReceive, STATUS_NO_DATA);
  EXPECT_TRUE(eventually([&] { return tcpHandles().lookup(nullptr, listener_) == nullptr; }));
  EXPECT_EQ(receive(connection, nullptr), STATUS_NO_DATA);
  EXPECT_EQ(messages(), "");
  // Only the environment and the client connection still hold loads.
  EXPECT_TRUE(eventually([] { return winsockLoadCount() == 1; }));
  tcpCloseConnection(diag_, connection);
}

TEST_F(TcpTest, FreeEnvironmentClosesEverythingItOwns) {
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0);
  ASSERT_EQ(tcpSend(diag_, connection, "S", 1), STATUS_SUCCESS);
  ASSERT_TRUE(eventually([&] { return echo_.running == 1; }));
  EXPECT_EQ(tcpFreeEnvironment(diag_, environment_), STATUS_SUCCESS);
  environment_ = 0;
  EXPECT_EQ(tcpSend(diag_, connection, "x", 1), STATUS_ERROR);
  EXPECT_TRUE(eventually([&] { return echo_.running == 0; }));
  EXPECT_TRUE(eventually([] { return winsockLoadCount() == 0; }));
  EXPECT_TRUE(eventually([] { return !tcpHandles().isAttached(); }));
}

TEST_F(TcpTest, ListenerFailuresLeaveNothingOpen) {
  testing::FaultGuard faults;
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {testing::portString("Host=127.0.0.1;Port={port}", port_),
       "TCP Verbindungsfehler (bind): 10048"},
      {"Host=127.0.0.1;Port=no-such-service", "Port nicht definiert: no-such-service"},
      {"Host=no.such.host.invalid;Port=0", "Host nicht definiert: no.such.host.invalid"},
  };
  for (const Case& c : cases) {
    freshContext();
    EXPECT_EQ(listen(c.text), 0) << c.text;
    EXPECT_EQ(messages(), "HY000 " + c.message + "\n");
  }
  freshContext();
  faultArm(FaultPoint::ThreadStart, 0, false);
  EXPECT_EQ(listen("Host=127.0.0.1;Port=0"), 0);
  std::vector<SeenRecord> records = testing::recordsOf(diag_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(startsWith(records[0].message,
                         "Der TCP Listen Prozess konnte nicht gestartet werden: "));
  // The environment's load and the running listener's: nothing else.
  EXPECT_EQ(winsockLoadCount(), 2);
}

TEST_F(TcpTest, ListenerStopsWhenAStartBlockCannotBeHad) {
  testing::FaultGuard faults;
  faultArm(FaultPoint::GeneralAlloc, 0, true);
  int32_t connection = connect("Host=127.0.0.1;Port={port}");
  ASSERT_NE(connection, 0);
  EXPECT_EQ(receive(connection, nullptr), STATUS_NO_DATA);
  EXPECT_TRUE(eventually([&] { return tcpHandles().lookup(nullptr, listener_) == nullptr; }));
  faultDisarmAll();
  EXPECT_EQ(echo_.served, 0);
  tcpCloseConnection(diag_, connection);
}

}  // namespace
}  // namespace volsten
