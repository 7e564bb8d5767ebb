// The POSIX socket library's own behaviour: the names it loads under, the
// socket values it hands out, Winsock's error numbers and its services
// lookup under the redirected system directory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sys/seam.h"
#include "tests/net/socket_library.h"
#include "tests/utils/files.h"

namespace volsten {
namespace {

using testing::Connection;
using testing::LoadedWinsock;
using testing::Winsock;

constexpr int kWsaEnotconn = 10057;
constexpr int kWsaEnoprotoopt = 10042;
constexpr int kWsaEsocktnosupport = 10044;

struct LibraryName {
  const char* name;
  bool loads;
};

void PrintTo(const LibraryName& c, std::ostream* os) { *os << (c.name ? c.name : "null"); }

class LibraryNameTest : public ::testing::TestWithParam<LibraryName> {};

TEST_P(LibraryNameTest, LoadsOnlyUnderWinsockNames) {
  SysLibrary library = sysLibraryLoad(GetParam().name);
  EXPECT_EQ(library != nullptr, GetParam().loads);
  sysLibraryFree(library);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LibraryNameTest,
    ::testing::Values(LibraryName{"WS2_32.DLL", true}, LibraryName{"ws2_32.dll", true},
                      LibraryName{"Wsock32.Dll", true}, LibraryName{"WSOCK32N.DLL", true},
                      LibraryName{"WS2_32", false}, LibraryName{"KERNEL32.DLL", false},
                      LibraryName{"", false}, LibraryName{nullptr, false}));

class SocketAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(loaded_.ok()); }
  void TearDown() override {
    testing::closeConnection(ws(), &c_);
    for (SysSocket s : opened_) ws().closeSocket(s);
  }
  const Winsock& ws() const { return loaded_.ws(); }
  SysSocket open() {
    SysSocket s = ws().socket(kSysAfInet, kSysSockStream, 0);
    if (s != kSysInvalidSocket) opened_.push_back(s);
    return s;
  }

  LoadedWinsock loaded_;
  Connection c_;
  std::vector<SysSocket> opened_;
};

// A call on a socket value: its result, as -1 for failure.
using SocketCall = std::function<int(const Winsock&, SysSocket)>;

struct StaleCase {
  const char* name;
  SocketCall call;
};

void PrintTo(const StaleCase& c, std::ostream* os) { *os << c.name; }

class StaleValueTest : public SocketAdapterTest, public ::testing::WithParamInterface<StaleCase> {};

// Each newer socket gets the closed one's descriptor number, and in time
// its place among the sockets: the old value must reach none of them. The
// rounds outnumber the sockets any test here keeps open at once.
TEST_P(StaleValueTest, FailsAsNotASocket) {
  SysSocket stale = ws().socket(kSysAfInet, kSysSockStream, 0);
  ASSERT_NE(stale, kSysInvalidSocket);
  ASSERT_EQ(ws().closeSocket(stale), 0);
  for (int round = 0; round < 600; ++round) {
    SysSocket newer = ws().socket(kSysAfInet, kSysSockStream, 0);
    ASSERT_NE(newer, kSysInvalidSocket);
    ASSERT_NE(newer, stale);
    ws().setLastError(0);
    int rc = GetParam().call(ws(), stale);
    int error = ws().getLastError();
    ASSERT_EQ(ws().listen(newer, 1), 0) << "round " << round;
    ASSERT_EQ(ws().closeSocket(newer), 0);
    ASSERT_EQ(rc, kSysSocketError) << "round " << round;
    ASSERT_EQ(error, kSysWsaEnotsock) << "round " << round;
  }
}

int asResult(SysSocket s) { return s == kSysInvalidSocket ? kSysSocketError : 0; }

const StaleCase kStaleCases[] = {
    {"closesocket", [](const Winsock& ws, SysSocket s) { return ws.closeSocket(s); }},
    {"listen", [](const Winsock& ws, SysSocket s) { return ws.listen(s, 1); }},
    {"accept",
     [](const Winsock& ws, SysSocket s) { return asResult(ws.accept(s, nullptr, nullptr)); }},
    {"recv",
     [](const Winsock& ws, SysSocket s) {
       char b;
       return ws.recv(s, &b, 1, 0);
     }},
    {"select",
     [](const Winsock& ws, SysSocket s) {
       SysFdSet read = {1, {s}};
       SysTimeval none = {0, 0};
       return ws.select(0, &read, nullptr, nullptr, &none);
     }},
};

INSTANTIATE_TEST_SUITE_P(Calls, StaleValueTest, ::testing::ValuesIn(kStaleCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketAdapterTest, ManyOpenSocketsStayDistinct) {
  std::set<SysSocket> seen;
  for (int i = 0; i < 200; ++i) {
    SysSocket s = open();
    ASSERT_NE(s, kSysInvalidSocket);
    EXPECT_TRUE(seen.insert(s).second);
  }
  for (SysSocket s : opened_) EXPECT_EQ(ws().shutdown(s, kSysShutdownBoth), kSysSocketError);
  EXPECT_EQ(ws().getLastError(), kWsaEnotconn);
}

// A failing call and the Winsock error it must report.
class ErrorTest;

struct ErrorCase {
  const char* name;
  std::function<int(ErrorTest&)> call;  // -1 for failure
  int error;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ErrorTest : public SocketAdapterTest, public ::testing::WithParamInterface<ErrorCase> {
 public:
  using SocketAdapterTest::open;
  using SocketAdapterTest::ws;
  // The address of a listener's port.
  SysSockaddr listening() {
    EXPECT_TRUE(testing::openConnection(ws(), &c_));
    return testing::loopback(ws(), testing::boundPort(ws(), c_.listener));
  }
};

TEST_P(ErrorTest, ReportsTheWinsockNumber) {
  ws().setLastError(0);
  EXPECT_EQ(GetParam().call(*this), kSysSocketError);
  EXPECT_EQ(ws().getLastError(), GetParam().error);
}

const ErrorCase kErrors[] = {
    {"BindPortInUse",
     [](ErrorTest& t) {
       SysSockaddr a = t.listening();
       return t.ws().bind(t.open(), &a, sizeof a);
     },
     kSysWsaEaddrinuse},
    {"RecvNotConnected", [](ErrorTest& t) { return t.ws().recv(t.open(), nullptr, 0, 0); },
     kWsaEnotconn},
    {"RecvNegativeLength", [](ErrorTest& t) { return t.ws().recv(t.open(), nullptr, -1, 0); },
     kSysWsaEinval},
    {"SocketNotIpv4", [](ErrorTest& t) { return asResult(t.ws().socket(23, kSysSockStream, 0)); },
     kSysWsaEafnosupport},
    {"SocketNotStream", [](ErrorTest& t) { return asResult(t.ws().socket(kSysAfInet, 2, 0)); },
     kWsaEsocktnosupport},
    {"SelectOverfullSet",
     [](ErrorTest& t) {
       SysFdSet read = {kSysFdSetSize + 1, {t.open()}};
       return t.ws().select(0, &read, nullptr, nullptr, nullptr);
     },
     kSysWsaEinval},
    {"AddressBufferTooShort",
     [](ErrorTest& t) {
       char text[] = "1.2.3.4";
       SysSockaddr a;
       int length = 8;
       int rc = t.ws().stringToAddress(text, kSysAfInet, nullptr, &a, &length);
       EXPECT_EQ(length, 16);
       return rc;
     },
     kSysWsaEfault},
};

INSTANTIATE_TEST_SUITE_P(Calls, ErrorTest, ::testing::ValuesIn(kErrors),
                         [](const auto& info) { return std::string(info.param.name); });

struct OptionCase {
  int level;
  int option;
  int length;
  int error;  // 0: set
};

class OptionTest : public SocketAdapterTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionTest, SetsKnownOptionsOnly) {
  const OptionCase& c = GetParam();
  const char value[8] = {1, 0, 5, 0};  // a linger of 5 s; as an int, not 0
  int rc = ws().setSockOpt(open(), c.level, c.option, value, c.length);
  EXPECT_EQ(rc, c.error == 0 ? 0 : kSysSocketError);
  if (c.error != 0) {
    EXPECT_EQ(ws().getLastError(), c.error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionTest,
    ::testing::Values(OptionCase{kSysSolSocket, kSysSoLinger, 4, 0},
                      OptionCase{kSysSolSocket, kSysSoLinger, 2, kSysWsaEfault},
                      OptionCase{kSysSolSocket, kSysSoReceiveBuffer, 2, kSysWsaEfault},
                      OptionCase{kSysIpProtoTcp, kSysTcpNoDelay, 4, 0},
                      OptionCase{kSysSolSocket, 0x1234, 4, kWsaEnoprotoopt},
                      OptionCase{41, 1, 4, kWsaEnoprotoopt}));

// Under Windows almost any call may overwrite the last error; the adapter's
// is a value per thread that only the socket calls set.
TEST_F(SocketAdapterTest, LastErrorIsPerThread) {
  ws().setLastError(kSysWsaEintr);
  int seenThere = -1;
  std::thread other([&] {
    ws().setLastError(kSysWsaEtimedout);
    seenThere = ws().getLastError();
  });
  other.join();
  EXPECT_EQ(seenThere, kSysWsaEtimedout);
  EXPECT_EQ(ws().getLastError(), kSysWsaEintr);
}

// Without MSG_NOSIGNAL the second send would end the process with SIGPIPE.
TEST_F(SocketAdapterTest, SendToAPeerThatIsGoneReportsAReset) {
  ASSERT_TRUE(testing::openConnection(ws(), &c_));
  ASSERT_EQ(ws().closeSocket(c_.server), 0);
  c_.server = kSysInvalidSocket;
  int rc = 0;
  for (int i = 0; i < 1000 && rc >= 0; ++i) {
    rc = ws().send(c_.client, "data", 4, 0);
    SysFdSet read = {1, {c_.client}};
    SysTimeval wait = {0, 10000};
    if (rc >= 0) ws().select(0, &read, nullptr, nullptr, &wait);  // lets the reset arrive
  }
  EXPECT_EQ(rc, kSysSocketError);
  EXPECT_EQ(ws().getLastError(), kSysWsaEconnreset);
}

// Threads open and close sockets at once: every value is closed exactly once.
TEST_F(SocketAdapterTest, ConcurrentOpensAndClosesKeepValuesApart) {
  constexpr int kThreads = 4, kRounds = 200;
  int failures[kThreads] = {};
  std::vector<std::thread> threads;
  const Winsock w = ws();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&w, &failures, t] {
      for (int i = 0; i < kRounds; ++i) {
        SysSocket s = w.socket(kSysAfInet, kSysSockStream, 0);
        bool ok = s != kSysInvalidSocket && w.closeSocket(s) == 0 &&
                  w.closeSocket(s) == kSysSocketError && w.getLastError() == kSysWsaEnotsock;
        if (!ok) ++failures[t];
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

struct StartupCase {
  uint16_t asked;
  int result;
  uint16_t granted;
};

class StartupTest : public SocketAdapterTest, public ::testing::WithParamInterface<StartupCase> {};

TEST_P(StartupTest, GrantsAtMostTwoTwo) {
  SysWsaData data;
  std::memset(&data, 0xAB, sizeof data);
  EXPECT_EQ(ws().startup(GetParam().asked, &data), GetParam().result);
  EXPECT_EQ(data.highVersion, 0x0202);
  if (GetParam().result == 0) {
    EXPECT_EQ(data.version, GetParam().granted);
    EXPECT_EQ(ws().cleanup(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, StartupTest,
                         ::testing::Values(StartupCase{0x03E8, 0, 0x0202},
                                           StartupCase{0x0101, 0, 0x0101},
                                           StartupCase{0x0000, kSysWsaVerNotSupported, 0},
                                           StartupCase{0x0200, kSysWsaVerNotSupported, 0}));

// The services file in the redirected system directory.
const std::string kServices = std::string("# services of the test\n\nlong 1/tcp ") +
                              std::string(100000, 'x') + "\n" +
                              "ftp              21/tcp\n"
                              "Volsten        5000/TCP    vol VLSN   # mixed case\n"
                              "volsten        5001/udp\n"
                              "broken line\n"
                              "toolarge      99999/tcp\n"
                              "noproto        7000/\n"
                              "   indented    6000/tcp\r\n";

struct ServiceCase {
  const char* name;  // null: by port
  int port;
  const char* protocol;
  const char* foundName;  // null: not found
  int foundPort;
  const char* foundProtocol;
};

void PrintTo(const ServiceCase& c, std::ostream* os) {
  *os << (c.name != nullptr ? c.name : std::to_string(c.port)) << "/"
      << (c.protocol != nullptr ? c.protocol : "any");
}

class RedirectedServicesTest : public SocketAdapterTest {
 protected:
  void SetUp() override {
    SocketAdapterTest::SetUp();
    ASSERT_TRUE(dir_.ok());
    std::string root = dir_.root().string();
    sysSeamRedirectDirectories(root.c_str(), root.c_str());
    ASSERT_TRUE(writeServices(kServices));
  }
  void TearDown() override {
    sysSeamReset();
    SocketAdapterTest::TearDown();
  }
  bool writeServices(const std::string& text) {
    return testing::writeFile(dir_.path("services"), text);
  }

  testing::TempDir dir_;
};

class ServiceLookupTest : public RedirectedServicesTest,
                          public ::testing::WithParamInterface<ServiceCase> {
 protected:
  SysServent* lookup(const ServiceCase& c) {
    return c.name != nullptr
               ? ws().getServByName(c.name, c.protocol)
               : ws().getServByPort(ws().htons(static_cast<uint16_t>(c.port)), c.protocol);
  }
};

TEST_P(ServiceLookupTest, FindsTheEntry) {
  const ServiceCase& c = GetParam();
  SysServent* found = lookup(c);
  if (c.foundName == nullptr) {
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(ws().getLastError(), kSysWsaNoData);
    return;
  }
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->name, c.foundName);
  EXPECT_STREQ(found->protocol, c.foundProtocol);
  EXPECT_EQ(static_cast<uint16_t>(found->port), ws().htons(static_cast<uint16_t>(c.foundPort)));
}

INSTANTIATE_TEST_SUITE_P(
    Queries, ServiceLookupTest,
    ::testing::Values(ServiceCase{"ftp", 0, "tcp", "ftp", 21, "tcp"},
                      ServiceCase{"VOLSTEN", 0, "tcp", "Volsten", 5000, "TCP"},
                      ServiceCase{"vlsn", 0, "Tcp", "Volsten", 5000, "TCP"},
                      ServiceCase{"volsten", 0, "udp", "volsten", 5001, "udp"},
                      ServiceCase{"volsten", 0, nullptr, "Volsten", 5000, "TCP"},
                      ServiceCase{"ftp", 0, "udp", nullptr, 0, nullptr},
                      ServiceCase{"broken", 0, nullptr, nullptr, 0, nullptr},
                      ServiceCase{"toolarge", 0, nullptr, nullptr, 0, nullptr},
                      ServiceCase{"noproto", 0, nullptr, nullptr, 0, nullptr},
                      ServiceCase{nullptr, 21, "tcp", "ftp", 21, "tcp"},
                      ServiceCase{nullptr, 5001, nullptr, "volsten", 5001, "udp"},
                      ServiceCase{nullptr, 5001, "tcp", nullptr, 0, nullptr},
                      ServiceCase{nullptr, 1, "tcp", "long", 1, "tcp"}));

TEST_F(RedirectedServicesTest, AliasesListedAndFileReadAfresh) {
  ASSERT_TRUE(writeServices("svc 100/tcp one two\n"));
  SysServent* found = ws().getServByName("two", "tcp");
  ASSERT_NE(found, nullptr);
  ASSERT_NE(found->aliases, nullptr);
  EXPECT_STREQ(found->aliases[0], "one");
  EXPECT_STREQ(found->aliases[1], "two");
  EXPECT_EQ(found->aliases[2], nullptr);

  ASSERT_TRUE(writeServices("svc 200/tcp\n"));
  found = ws().getServByName("svc", "tcp");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(static_cast<uint16_t>(found->port), ws().htons(200));
  EXPECT_EQ(ws().getServByName("two", "tcp"), nullptr);
}

}  // namespace
}  // namespace volsten
