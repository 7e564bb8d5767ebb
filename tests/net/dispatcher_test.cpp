// The dispatcher: its buffers call by call over a counting fake transport,
// and its pool over the three real transports with their listening sides.
#include "net/dispatch/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/str.h"
#include "dispatch_child_line.h"
#include "net/tcp/tcp_transport.h"
#include "sys/named_pipe.h"
#include "tests/net/dispatch_echo.h"
#include "tests/support/diag_reader.h"
#include "tests/support/eventually.h"

namespace volsten {
namespace {

using testing::eventually;
using testing::recordsOf;

// --- A counting fake under the dispatcher --------------------------------

// What the fake saw, and the reads it hands out: each entry is one
// transport read (its bytes, or the status it ends with).
struct FakeLog {
  std::vector<int32_t> sends;  // the length of every send
  std::string sent;
  std::vector<std::string> reads;
  Status endWith = STATUS_NO_DATA;
  int receives = 0;
  int closes = 0;
  int environmentsFreed = 0;
  int failEnvironmentCall = 0;  // this call of openEnvironment fails (1 = the first)
  int environmentsOpened = 0;
};
FakeLog fake;

Status fakeReceive(DiagContext* diag, int32_t, char* buffer, int32_t capacity, int32_t* count) {
  ++fake.receives;
  *count = 0;
  if (fake.reads.empty()) {
    diagSetStatus(diag, fake.endWith);
    return fake.endWith;
  }
  std::string next = fake.reads.front();
  fake.reads.erase(fake.reads.begin());
  EXPECT_LE(static_cast<int32_t>(next.size()), capacity);
  next.copy(buffer, next.size());
  *count = static_cast<int32_t>(next.size());
  return diagStatus(diag);
}
Status fakeSend(DiagContext* diag, int32_t, const char* data, int32_t length) {
  fake.sends.push_back(length);
  fake.sent.append(data, static_cast<size_t>(length));
  return diagStatus(diag);
}
int32_t fakeConnect(DiagContext*, int32_t, const char*, int32_t) { return 7; }
int32_t fakeOpenEnvironment(DiagContext* diag) {
  if (++fake.environmentsOpened != fake.failEnvironmentCall) return 5;
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, "fake", nullptr, nullptr);
  return 0;
}
Status fakeCloseListener(DiagContext* diag, int32_t) { return diagStatus(diag); }
Status fakeCloseConnection(DiagContext* diag, int32_t) {
  ++fake.closes;
  return diagStatus(diag);
}
Status fakeFreeEnvironment(DiagContext* diag, int32_t) {
  ++fake.environmentsFreed;
  return diagStatus(diag);
}
const TransportOps kFake = {fakeReceive,       fakeSend,           fakeConnect,        fakeOpenEnvironment,
                            fakeCloseListener, fakeCloseConnection, fakeFreeEnvironment};

// Every transport kind is the fake; the TCP one is the one connected to.
class DispatcherFakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = FakeLog{};
    for (uint8_t kind = 1; kind <= 3; ++kind) dispatcherSeamSetTransport(kind, &kFake);
    diag_ = diagCreate(nullptr);
    environment_ = openEnvironment(diag_, nullptr, 0);
    ASSERT_NE(environment_, 0);
    connection_ = connect(diag_, environment_, "Protocol=TCP", NTS);
    ASSERT_NE(connection_, 0);
  }
  void TearDown() override {
    if (environment_ != 0) freeEnvironment(nullptr, environment_);
    for (uint8_t kind = 1; kind <= 3; ++kind) dispatcherSeamSetTransport(kind, nullptr);
    diagFree(diag_);
  }
  Status sendBytes(int32_t count) {
    std::string bytes(static_cast<size_t>(count), 's');
    return send(diag_, connection_, bytes.data(), count);
  }

  DiagContext* diag_ = nullptr;
  int32_t environment_ = 0;
  int32_t connection_ = 0;
};

TEST_F(DispatcherFakeTest, SendWritesOnlyFullBuffersAndFlushes) {
  EXPECT_EQ(sendBytes(16192), STATUS_SUCCESS);
  EXPECT_TRUE(fake.sends.empty());
  EXPECT_EQ(sendBytes(1), STATUS_SUCCESS);
  EXPECT_EQ(fake.sends, std::vector<int32_t>{16192});
  EXPECT_EQ(send(diag_, connection_, nullptr, 0), STATUS_SUCCESS);
  EXPECT_EQ(fake.sends, (std::vector<int32_t>{16192, 1}));
  // A flush with nothing buffered still reaches the transport.
  EXPECT_EQ(send(diag_, connection_, nullptr, 0), STATUS_SUCCESS);
  EXPECT_EQ(fake.sends, (std::vector<int32_t>{16192, 1, 0}));
  // A long write goes out in full buffers, in order.
  EXPECT_EQ(sendBytes(40000), STATUS_SUCCESS);
  EXPECT_EQ(fake.sends, (std::vector<int32_t>{16192, 1, 0, 16192, 16192}));
  EXPECT_EQ(fake.sent.size(), 16192u * 3 + 1);
}

TEST_F(DispatcherFakeTest, ReceiveReturnsExactlyTheBytesAskedForAcrossRefills) {
  fake.reads = {"ab", "", "cde", "fgh"};
  char buffer[8] = {};
  EXPECT_EQ(receive(diag_, connection_, buffer, 0), STATUS_SUCCESS);
  EXPECT_EQ(fake.receives, 0);
  EXPECT_EQ(receive(diag_, connection_, nullptr, 1), STATUS_SUCCESS);  // skips 'a'
  EXPECT_EQ(receive(diag_, connection_, buffer, 5), STATUS_SUCCESS);
  EXPECT_EQ(std::string(buffer, 5), "bcdef");
  EXPECT_EQ(fake.receives, 4);
  EXPECT_EQ(receive(diag_, connection_, buffer, 2), STATUS_SUCCESS);
  EXPECT_EQ(std::string(buffer, 2), "gh");
  EXPECT_EQ(fake.receives, 4);
}

class DispatcherEndTest : public DispatcherFakeTest, public ::testing::WithParamInterface<Status> {};

TEST_P(DispatcherEndTest, AnEndedStreamAnswersNoDataWithoutTheTransport) {
  fake.reads = {"x"};
  fake.endWith = GetParam();
  char buffer[4];
  EXPECT_EQ(receive(diag_, connection_, buffer, 2), GetParam());
  int calls = fake.receives;
  diagClear(diag_);
  EXPECT_EQ(receive(diag_, connection_, buffer, 1), STATUS_NO_DATA);
  EXPECT_EQ(fake.receives, calls);
  // The pool no longer hands the ended connection out.
  int32_t users = 0;
  int32_t again = connect(diag_, environment_, "Protocol=TCP", NTS, &users);
  EXPECT_NE(again, connection_);
  EXPECT_EQ(users, 1);
}

INSTANTIATE_TEST_SUITE_P(Ends, DispatcherEndTest, ::testing::Values(STATUS_ERROR, STATUS_NO_DATA));

// Which "Protocol" pairs name a transport.
struct ProtocolCase {
  const char* text;
  uint8_t kind;  // 0: none
};

class DispatcherProtocolTest : public DispatcherFakeTest,
                               public ::testing::WithParamInterface<ProtocolCase> {};

TEST_P(DispatcherProtocolTest, OnlyAnExactKnownValueChoosesATransport) {
  int32_t connection = connect(diag_, environment_, GetParam().text, NTS);
  if (GetParam().kind != 0) {
    ASSERT_NE(connection, 0);
    EXPECT_EQ(dispatcherHandles().lookup(nullptr, connection)->kind, GetParam().kind);
    EXPECT_EQ(recordsOf(diag_).size(), 0u);
  } else {
    EXPECT_EQ(connection, 0);
    ASSERT_EQ(recordsOf(diag_).size(), 1u);
    EXPECT_EQ(recordsOf(diag_)[0].message,
              "In der Verbindungs Zeichenkette ist kein Protokoll angegeben");
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, DispatcherProtocolTest,
                         ::testing::Values(ProtocolCase{"Protocol=tcp", 0},
                                           ProtocolCase{"Host=x", 0},
                                           ProtocolCase{"Protocol=Foo;Protocol=TCP", TRANSPORT_TCP},
                                           ProtocolCase{"Protocol=Local;Protocol=TCP",
                                                        TRANSPORT_LOCAL},
                                           ProtocolCase{"x=1;Protocol=DetachedServer",
                                                        TRANSPORT_DETACHED_SERVER}));

TEST_F(DispatcherFakeTest, DisconnectOfAnEnvironmentHandleIsRefused) {
  EXPECT_EQ(disconnect(diag_, environment_), STATUS_ERROR);
  ASSERT_EQ(recordsOf(diag_).size(), 1u);
  EXPECT_EQ(recordsOf(diag_)[0].message, "Ung\xfcltiger Handle Typ");
}

TEST_F(DispatcherFakeTest, FailedEnvironmentFreesTheTransportsItOpened) {
  fake.environmentsOpened = 0;
  fake.failEnvironmentCall = 2;  // the TCP transport's, between the other two
  EXPECT_EQ(openEnvironment(diag_, nullptr, 0), 0);
  EXPECT_EQ(fake.environmentsOpened, 3);
  EXPECT_EQ(fake.environmentsFreed, 2);
}

// --- The pool over the real transports -----------------------------------

enum class Real { Local, Tcp, Child };

class DispatcherPoolTest : public ::testing::TestWithParam<Real> {
 protected:
  void SetUp() override {
    diag_ = diagCreate(nullptr);
    server_ = openEnvironment(diag_, nullptr, 0);
    ASSERT_NE(server_, 0);
    switch (GetParam()) {
      case Real::Local: {
        std::string base = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : base) c = c == '/' ? '-' : c;
        char name[512];
        ASSERT_TRUE(sysLocalPipeName(base.c_str(), name, sizeof name));
        std::string path = name;
        ASSERT_NE(listen(diag_, server_, ("Protocol=Local;Path=" + path).c_str(), NTS,
                         testing::dispatchEcho, 0),
                  0)
            << testing::messagesOf(diag_);
        pairs_ = {"Protocol=Local;Path=" + path, "Path=" + path + ";Protocol=Local"};
        break;
      }
      case Real::Tcp: {
        int32_t listener = listen(diag_, server_, "Protocol=TCP;Host=127.0.0.1;Port=0", NTS,
                                  testing::dispatchEcho, 0);
        ASSERT_NE(listener, 0) << testing::messagesOf(diag_);
        int32_t port = tcpListenerPort(
            nullptr, dispatcherHandles().lookup(nullptr, listener)->transportHandle);
        std::string p = std::to_string(port);
        pairs_ = {"Protocol=TCP;Host=127.0.0.1;Port=" + p,
                  "Port=" + p + ";Protocol=TCP;Host=127.0.0.1"};
        break;
      }
      case Real::Child: {
        std::string command = std::string("Command={") + kDispatchChildCommand + "}";
        pairs_ = {"Protocol=DetachedServer;" + command, command + ";Protocol=DetachedServer"};
        break;
      }
    }
  }
  void TearDown() override {
    for (int32_t e : {clients_, other_, server_}) {
      if (e != 0) freeEnvironment(nullptr, e);
    }
    EXPECT_TRUE(eventually([] { return !dispatcherHandles().isAttached(); }));
    diagFree(diag_);
  }
  int32_t open(const char* text = nullptr) {
    int32_t e = openEnvironment(diag_, text, NTS);
    EXPECT_NE(e, 0);
    return e;
  }
  int32_t connectTo(int32_t environment, int which, int32_t* users) {
    return connect(diag_, environment, pairs_[which].c_str(), NTS, users);
  }
  // One byte there and back.
  bool echoes(int32_t connection, char byte) {
    char back = 0;
    return send(diag_, connection, &byte, 1) == STATUS_SUCCESS &&
           send(diag_, connection, nullptr, 0) == STATUS_SUCCESS &&
           receive(diag_, connection, &back, 1) == STATUS_SUCCESS && back == byte;
  }

  DiagContext* diag_ = nullptr;
  int32_t server_ = 0;
  int32_t clients_ = 0;
  int32_t other_ = 0;
  std::vector<std::string> pairs_;
};

TEST_P(DispatcherPoolTest, SamePairsInAnotherOrderShareOneConnection) {
  clients_ = open();
  int32_t first = 0, second = 0;
  int32_t a = connectTo(clients_, 0, &first);
  int32_t b = connectTo(clients_, 1, &second);
  ASSERT_NE(a, 0) << testing::messagesOf(diag_);
  EXPECT_EQ(b, a);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_TRUE(echoes(a, 'p'));
  disconnect(diag_, a);
  EXPECT_TRUE(echoes(a, 'q')) << "the first disconnect closed a shared connection";
  disconnect(diag_, a);
  EXPECT_FALSE(dispatcherHandles().checkType(nullptr, a, HANDLE_CONNECTION));
}

TEST_P(DispatcherPoolTest, NoPoolingAndOtherEnvironmentsGiveSeparateConnections) {
  clients_ = open("ConnectionPooling=No");
  other_ = open("ConnectionPooling=yes");
  int32_t shared = open();
  for (int32_t environment : {clients_, other_}) {
    int32_t first = 0, second = 0;
    int32_t a = connectTo(environment, 0, &first);
    int32_t b = connectTo(environment, 0, &second);
    ASSERT_NE(a, 0) << testing::messagesOf(diag_);
    EXPECT_NE(b, a);
    EXPECT_EQ(first + second, 2);
  }
  int32_t users = 0;
  int32_t inShared = connectTo(shared, 0, &users);
  EXPECT_EQ(users, 1) << "a connection of another environment was shared";
  EXPECT_TRUE(echoes(inShared, 's'));
  freeEnvironment(diag_, shared);
}

TEST_P(DispatcherPoolTest, FreeEnvironmentDropsOneUserOfASharedConnection) {
  clients_ = open();
  int32_t users = 0;
  int32_t a = connectTo(clients_, 0, &users);
  ASSERT_NE(connectTo(clients_, 1, &users), 0);
  ASSERT_EQ(users, 2);
  EXPECT_EQ(freeEnvironment(diag_, clients_), STATUS_SUCCESS) << testing::messagesOf(diag_);
  clients_ = 0;
  // The server's environment keeps the table attached: the record stays,
  // with one user, over a closed transport connection.
  ASSERT_TRUE(dispatcherHandles().checkType(nullptr, a, HANDLE_CONNECTION));
  EXPECT_EQ(dispatcherHandles().lookup(nullptr, a)->users, 1);
}

std::string realName(const ::testing::TestParamInfo<Real>& info) {
  switch (info.param) {
    case Real::Local: return "Local";
    case Real::Tcp: return "Tcp";
    case Real::Child: return "Child";
  }
  return "?";
}

INSTANTIATE_TEST_SUITE_P(Transports, DispatcherPoolTest,
                         ::testing::Values(Real::Local, Real::Tcp, Real::Child), realName);

}  // namespace
}  // namespace volsten
