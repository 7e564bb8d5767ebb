// The run-time loader of the socket library: library order, the exports it
// needs, the start-up version, the load count.
#include "net/tcp/winsock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tcp/tcp_transport.h"
#include "base/str.h"
#include "sys/seam.h"
#include "tests/support/diag_reader.h"

namespace volsten {
namespace {

class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sysSeamReset();
    sysSeamCaptureMessages(&shown_);
  }
  void TearDown() override {
    while (winsockLoadCount() > 0) winsockRelease();
    sysSeamReset();
  }
  static std::vector<std::string> tried() {
    SysLibraryLog log = sysSeamLibraryLog();
    return std::vector<std::string>(log.names, log.names + log.tried);
  }
  SysMessageCapture shown_{};
};

TEST_F(WinsockTest, LoadsAreCountedAndTheLastReleaseCleansUp) {
  sysSeamClearLibraryLog();
  ASSERT_TRUE(winsockLoad());
  EXPECT_EQ(tried(), std::vector<std::string>{"WS2_32.DLL"});
  EXPECT_EQ(winsockApi().started, 1);

  sysSeamClearLibraryLog();
  ASSERT_TRUE(winsockLoad());
  SysLibraryLog second = sysSeamLibraryLog();
  EXPECT_EQ(second.loads + second.exports + second.frees, 0) << "a second load only counts";
  EXPECT_EQ(winsockLoadCount(), 2);

  winsockRelease();
  const WinsockApi& ws = winsockApi();
  SysSocket s = ws.socket(kSysAfInet, kSysSockStream, 0);
  EXPECT_NE(s, kSysInvalidSocket) << "one load left: still usable";
  EXPECT_EQ(ws.closeSocket(s), 0);

  sysSeamClearLibraryLog();
  winsockRelease();
  EXPECT_EQ(sysSeamLibraryLog().frees, 1);
  EXPECT_EQ(winsockApi().library, nullptr);
  EXPECT_EQ(winsockApi().closeSocket, nullptr);
  EXPECT_EQ(winsockLoadCount(), 0);

  sysSeamClearLibraryLog();
  ASSERT_TRUE(winsockLoad());
  EXPECT_EQ(tried(), std::vector<std::string>{"WS2_32.DLL"}) << "starts from the first again";
  EXPECT_EQ(shown_.shown, 0);
}

struct OrderCase {
  const char* name;
  std::vector<const char*> refused;
  bool loads;
  std::vector<std::string> tried;
};

class WinsockOrderTest : public WinsockTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(WinsockOrderTest, TriesTheLibrariesInOrder) {
  const OrderCase& c = GetParam();
  sysSeamRefuseLibraries(c.refused.data(), static_cast<int32_t>(c.refused.size()));
  sysSeamClearLibraryLog();
  EXPECT_EQ(winsockLoad(), c.loads);
  EXPECT_EQ(tried(), c.tried);
  EXPECT_EQ(shown_.shown, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, WinsockOrderTest,
    ::testing::Values(OrderCase{"First", {}, true, {"WS2_32.DLL"}},
                      OrderCase{"Second", {"WS2_32.DLL"}, true, {"WS2_32.DLL", "WSOCK32.DLL"}},
                      OrderCase{"None",
                                {"WS2_32.DLL", "WSOCK32.DLL", "WSOCK32N.DLL"},
                                false,
                                {"WS2_32.DLL", "WSOCK32.DLL", "WSOCK32N.DLL"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WinsockTest, WithoutALibraryNoEnvironmentOpensAndNothingIsRecorded) {
  const char* all[] = {"WS2_32.DLL", "WSOCK32.DLL", "WSOCK32N.DLL"};
  sysSeamRefuseLibraries(all, 3);
  DiagContext* diag = diagCreate(nullptr);
  EXPECT_EQ(tcpOpenEnvironment(diag), 0);
  EXPECT_TRUE(testing::recordsOf(diag).empty());
  EXPECT_EQ(tcpConnect(diag, 0, "Host=127.0.0.1;Port=1", NTS), 0);
  std::vector<testing::SeenRecord> records = testing::recordsOf(diag);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().message, "Ung\xfcltiges Handle");
  diagFree(diag);
}

struct ExportCase {
  const char* name;
  std::vector<const char*> missing;
  bool loads;
};

class WinsockExportTest : public WinsockTest, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(WinsockExportTest, RefusesALibraryLackingWhatItNeeds) {
  std::vector<SysExportOverride> hidden;
  for (const char* name : GetParam().missing) hidden.push_back({name, nullptr});
  sysSeamOverrideExports(hidden.data(), static_cast<int32_t>(hidden.size()));
  EXPECT_EQ(winsockLoad(), GetParam().loads);
  EXPECT_EQ(winsockLoadCount(), GetParam().loads ? 1 : 0);
  EXPECT_EQ(shown_.shown, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, WinsockExportTest,
    ::testing::Values(ExportCase{"Bind", {"bind"}, false}, ExportCase{"Listen", {"listen"}, false},
                      ExportCase{"Shutdown", {"shutdown"}, false},
                      ExportCase{"Htons", {"htons"}, false},
                      ExportCase{"StringToAddress", {"WSAStringToAddressA"}, true},
                      ExportCase{"GetHostByName", {"gethostbyname"}, true},
                      ExportCase{"BothLookups", {"WSAStringToAddressA", "gethostbyname"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WinsockTest, AHostNameNeedsGetHostByName) {
  SysExportOverride hidden[] = {{"gethostbyname", nullptr}};
  sysSeamOverrideExports(hidden, 1);
  DiagContext* diag = diagCreate(nullptr);
  int32_t environment = tcpOpenEnvironment(diag);
  ASSERT_NE(environment, 0);
  EXPECT_EQ(tcpConnect(diag, environment, "Host=localhost;Port=1", NTS), 0);
  // A dotted address needs no lookup: it gets as far as the connect, which
  // nothing listening on port 1 refuses.
  EXPECT_EQ(tcpConnect(diag, environment, "Host=127.0.0.1;Port=1", NTS), 0);
  std::vector<testing::SeenRecord> records = testing::recordsOf(diag);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].message, "TCP Verbindungsfehler (connect): 11001");
  EXPECT_EQ(records[1].message, "TCP Verbindungsfehler (connect): 10061");
  tcpFreeEnvironment(diag, environment);
  diagFree(diag);
}

// A library that cannot be started, as a test supplies it.
std::vector<uint16_t> startupVersions;
int startupsThatFail = 0;

int SYS_SOCKET_API fakeStartup(uint16_t version, SysWsaData* data) {
  startupVersions.push_back(version);
  data->highVersion = 0x0101;
  return static_cast<int>(startupVersions.size()) <= startupsThatFail ? kSysWsaVerNotSupported : 0;
}
int SYS_SOCKET_API fakeCleanup() { return 0; }
int SYS_SOCKET_API fakeLastError() { return kSysWsaVerNotSupported; }
void SYS_SOCKET_API fakeSetLastError(int) {}

class WinsockStartupTest : public WinsockTest, public ::testing::WithParamInterface<int> {};

TEST_P(WinsockStartupTest, RetriesWithTheOfferedVersionThenTellsTheUser) {
  startupVersions.clear();
  startupsThatFail = GetParam();
  SysExportOverride fakes[] = {{"WSAStartup", reinterpret_cast<void*>(&fakeStartup)},
                               {"WSACleanup", reinterpret_cast<void*>(&fakeCleanup)},
                               {"WSAGetLastError", reinterpret_cast<void*>(&fakeLastError)},
                               {"WSASetLastError", reinterpret_cast<void*>(&fakeSetLastError)}};
  sysSeamOverrideExports(fakes, 4);
  bool started = startupsThatFail < 2;
  EXPECT_EQ(winsockLoad(), started);
  std::vector<uint16_t> expected{0x03E8};
  if (startupsThatFail > 0) expected.push_back(0x0101);
  EXPECT_EQ(startupVersions, expected);
  EXPECT_EQ(shown_.shown, started ? 0 : 1);
  if (!started) {
    EXPECT_STREQ(shown_.text, "10092");
    EXPECT_STREQ(shown_.caption, "VOLSTEN - INET Startup Error");
    EXPECT_EQ(winsockLoadCount(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(FailedStartups, WinsockStartupTest, ::testing::Values(0, 1, 2));

}  // namespace
}  // namespace volsten
