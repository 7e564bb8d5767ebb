// The request layer over a real loopback connection: the exact bytes each
// field puts on the wire, and replies read back from a scripted server,
// including replies that a broken server cuts short.
#include "config/request.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/str.h"
#include "net/dispatch/dispatcher.h"
#include "sys/environment.h"
#include "tests/support/diag_reader.h"
#include "tests/support/scripted_server.h"

namespace volsten {
namespace {

using testing::recordsOf;
using testing::ScriptedServer;
using testing::ScriptStep;
using testing::SeenRecord;

std::string field(const std::string& text) { return testing::wireField(text); }

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sysSetEnvironment(kDisableConnectVariable, nullptr);
    diag_ = diagCreate(nullptr);
    environment_ = openEnvironment(diag_, nullptr, 0);
    ASSERT_NE(environment_, 0) << testing::messagesOf(diag_);
  }
  void TearDown() override {
    freeEnvironment(nullptr, environment_);
    diagFree(diag_);
    sysSetEnvironment(kDisableConnectVariable, nullptr);
  }
  int32_t open(ScriptedServer& server, const CodeTable* table = nullptr) {
    EXPECT_TRUE(server.listening());
    int32_t connection =
        openServerConnection(diag_, environment_, table, server.connectionString().c_str(), NTS);
    EXPECT_NE(connection, 0) << testing::messagesOf(diag_);
    return connection;
  }
  void flush(int32_t connection) { send(diag_, connection, nullptr, 0); }
  void code(int32_t connection, char byte) { send(diag_, connection, &byte, 1); }

  DiagContext* diag_ = nullptr;
  int32_t environment_ = 0;
};

TEST_F(RequestTest, OpenForReadingOnANewConnectionSendsGreetingServiceAndRequestInOneFlush) {
  const std::string request =
      field("VOLSTEN") + field("StdIO") + "\x01" + field("/data/file.txt") + field("r");
  ScriptedServer server({{request.size(), field("17") + field("0")}});
  int32_t connection = open(server);
  putString(diag_, connection, nullptr, "StdIO", NTS);
  code(connection, 1);
  putString(diag_, connection, nullptr, "/data/file.txt", NTS);
  putString(diag_, connection, nullptr, "r", NTS);
  flush(connection);
  // The reply comes only once the whole request arrived, which took the
  // one flush.
  char handle[50] = "";
  getString(diag_, connection, nullptr, handle, sizeof handle);
  EXPECT_STREQ(handle, "17");
  EXPECT_EQ(getErrorCode(diag_, connection), 0);
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS) << testing::messagesOf(diag_);
  disconnect(diag_, connection);
  EXPECT_EQ(server.received(), request);
}

TEST_F(RequestTest, ASharedConnectionIsNotGreetedAgain) {
  ScriptedServer server({});
  int32_t first = open(server);
  int32_t second = open(server);
  EXPECT_EQ(second, first);
  putString(diag_, second, nullptr, "Base", NTS);
  flush(second);
  disconnect(diag_, second);
  disconnect(diag_, first);
  EXPECT_EQ(server.received(), field("VOLSTEN") + field("Base"));
}

TEST_F(RequestTest, FieldsTravelAsTheirBytesAndOneNulWithNumbersInDecimal) {
  ScriptedServer server({});
  int32_t connection = open(server);
  std::string long512(512, 'x');
  std::string long513 = std::string(512, 'y') + "z";
  putString(diag_, connection, nullptr, "", NTS);
  putString(diag_, connection, nullptr, nullptr, 5);
  putString(diag_, connection, nullptr, "ignored", 0);
  putString(diag_, connection, nullptr, "ab  cd", 4);  // trailing blanks are sent
  putString(diag_, connection, nullptr, long512.c_str(), NTS);
  putString(diag_, connection, nullptr, long513.c_str(), 513);
  for (int32_t value : {-1, 0, 512, INT32_MIN}) putNumber(diag_, connection, nullptr, value);
  flush(connection);
  disconnect(diag_, connection);
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS) << testing::messagesOf(diag_);
  EXPECT_EQ(server.received(), field("VOLSTEN") + field("") + field("") + field("") +
                                   field("ab  ") + field(long512) + field(long513) + field("-1") +
                                   field("0") + field("512") + field("-2147483648"));
}

TEST_F(RequestTest, TextAndDigitsAreTranslatedBothWaysButCodeBytesAndErrorCodesAreNot) {
  CodeTable table{};
  table.outbound['a'] = 'b';
  table.outbound['1'] = '9';
  table.outbound[0x01] = 0x02;
  table.outbound['V'] = 'v';
  table.inbound['X'] = 'x';
  table.inbound['7'] = '3';
  const std::string request = field("vOLSTEN") + field("b9") + "\x01" + field("97");
  ScriptedServer server({{request.size(), field("XYX") + field("77") + field("7")}});
  int32_t connection = open(server, &table);
  putString(diag_, connection, &table, "a1", NTS);
  code(connection, 0x01);
  putNumber(diag_, connection, &table, 17);
  flush(connection);
  char text[10] = "";
  getString(diag_, connection, &table, text, sizeof text);
  EXPECT_STREQ(text, "xYx");
  EXPECT_EQ(getNumber(diag_, connection, &table), 33);
  EXPECT_EQ(getErrorCode(diag_, connection), ENOENT);  // server code 7
  disconnect(diag_, connection);
  EXPECT_EQ(server.received(), request);
}

TEST_F(RequestTest, AStringFieldIsReadWholeWhateverTheRoom) {
  ScriptedServer server({{0, field("abcdef") + field("ghijkl") + field("mnopqr") + field("next")}});
  int32_t connection = open(server);
  char room[8];
  std::memset(room, '#', sizeof room);
  getString(diag_, connection, nullptr, room, 1);
  EXPECT_EQ(room[0], '\0');
  EXPECT_EQ(room[1], '#');
  room[0] = '#';
  getString(diag_, connection, nullptr, room, 0);
  EXPECT_EQ(room[0], '#');
  getString(diag_, connection, nullptr, nullptr, 50);
  getString(diag_, connection, nullptr, room, 3);
  EXPECT_STREQ(room, "ne");
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS);
  disconnect(diag_, connection);
}

TEST_F(RequestTest, NumbersFollowStrtolAndSaturateAtThe32BitLimits) {
  ScriptedServer server({{0, field("99999999999") + field("-99999999999") + field("  42x") +
                                 field("") + field("+7")}});
  int32_t connection = open(server);
  for (int32_t expected : {INT32_MAX, INT32_MIN, 42, 0, 7}) {
    EXPECT_EQ(getNumber(diag_, connection, nullptr), expected);
  }
  disconnect(diag_, connection);
}

TEST_F(RequestTest, AFieldCutByTheServerClosingEndsTheReadWithWhatArrived) {
  ScriptedServer server({{0, "abc", true}});
  int32_t connection = open(server);
  char text[10] = "";
  EXPECT_EQ(getString(diag_, connection, nullptr, text, sizeof text), STATUS_NO_DATA);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(getNumber(diag_, connection, nullptr), 0);
  disconnect(diag_, connection);
}

TEST(ServerErrorCodeTest, CodesMapToTheClassicErrnoValues) {
  const std::pair<int32_t, int32_t> cases[] = {{0, 0},  {1, 13},  {7, 2},   {10, 18},
                                               {11, 2}, {12, 22}, {-1, 22}, {INT32_MAX, 22}};
  for (auto [server, local] : cases) EXPECT_EQ(errnoOfServerCode(server), local) << server;
}

// --- Reply status blocks ---------------------------------------------------

struct ReplyCase {
  const char* name;
  std::string reply;
  bool close;  // the server ends the connection after the reply
  std::vector<SeenRecord> records;
  Status status;
  friend void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }
};

class ReplyStatusTest : public RequestTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyStatusTest, MovesTheServersStatusAndRecordsIntoTheTarget) {
  const ReplyCase& c = GetParam();
  ScriptedServer server({{0, c.reply + field("after"), c.close}});
  int32_t connection = open(server);
  EXPECT_EQ(readReplyStatus(diag_, connection, nullptr, diag_), c.status);
  EXPECT_EQ(recordsOf(diag_), c.records);
  EXPECT_EQ(diagStatus(diag_), c.status);
  if (!c.close) {
    // The block was read to its end and no further (the status, 100 too,
    // stays in the context until cleared).
    diagClear(diag_);
    char next[10] = "";
    getString(diag_, connection, nullptr, next, sizeof next);
    EXPECT_STREQ(next, "after");
  }
  disconnect(diag_, connection);
}

std::string record(const std::string& kind, const std::string& state, const std::string& native,
                   const std::string& message) {
  return field(kind) + field(state) + field(native) + field(message);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ReplyStatusTest,
    ::testing::Values(
        ReplyCase{"SuccessWithoutRecords", field("0") + field("1"), false, {}, STATUS_SUCCESS},
        ReplyCase{
            "OneError",
            field("-1") + field("0") + record("-1", "42S02", "208", "Tabelle fehlt") + field("1"),
            false,
            {{-1, "42S02", 208, "Tabelle fehlt"}},
            STATUS_ERROR},
        ReplyCase{"LongFieldsAreCut",
                  field("1") + field("0") + record("1", "0123456789", "5", std::string(600, 'm')) +
                      field("0") + record("7", "IGNOR", "0", "no such kind") + field("2"),
                  false,
                  {{1, "01234", 5, std::string(511, 'm')}},
                  STATUS_SUCCESS_WITH_INFO},
        ReplyCase{"NoDataStatus", field("100") + field("1"), false, {}, STATUS_NO_DATA},
        // Cut short: the server's error never arrives, and the block must
        // not read as a success.
        ReplyCase{"CutInsideARecord",
                  field("-1") + field("0") + field("-1") + "HY0",
                  true,
                  {},
                  STATUS_NO_DATA},
        ReplyCase{"CutBeforeMore", field("0"), true, {}, STATUS_NO_DATA}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RequestTest, AReplyOnNoConnectionFailsWithTheDispatchersReportOnce) {
  // A caller whose connect failed reads its reply from handle 0.
  DiagContext* one = diagCreate(nullptr);
  getNumber(one, 0, nullptr);
  std::vector<SeenRecord> report = recordsOf(one);
  diagFree(one);
  Status status = readReplyStatus(diag_, 0, nullptr, diag_);
  EXPECT_LT(status, 0);
  EXPECT_EQ(diagStatus(diag_), status);
  EXPECT_FALSE(report.empty());
  EXPECT_EQ(recordsOf(diag_), report);
}

// --- Switching client/server use off -------------------------------------

struct SwitchCase {
  const char* value;
  bool forbids;
  friend void PrintTo(const SwitchCase& c, std::ostream* os) { *os << '"' << c.value << '"'; }
};

class DisableConnectTest : public RequestTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(DisableConnectTest, OnlyTheFourExactWordsForbid) {
  ScriptedServer server({});
  ASSERT_TRUE(sysSetEnvironment(kDisableConnectVariable, GetParam().value));
  int32_t connection =
      openServerConnection(diag_, environment_, nullptr, server.connectionString().c_str(), NTS);
  if (GetParam().forbids) {
    EXPECT_EQ(connection, 0);
    EXPECT_EQ(recordsOf(diag_),
              (std::vector<SeenRecord>{{-1, "08001", 0, messageText(MSG_CS_DISABLED)}}));
  } else {
    EXPECT_NE(connection, 0) << testing::messagesOf(diag_);
    disconnect(diag_, connection);
    EXPECT_EQ(server.received(), field("VOLSTEN"));
  }
}

INSTANTIATE_TEST_SUITE_P(Values, DisableConnectTest,
                         ::testing::Values(SwitchCase{"Y", true}, SwitchCase{"y", true},
                                           SwitchCase{"Yes", true}, SwitchCase{"yes", true},
                                           SwitchCase{"YES", false}, SwitchCase{"1", false},
                                           SwitchCase{"", false}, SwitchCase{"Yes ", false}));

}  // namespace
}  // namespace volsten
