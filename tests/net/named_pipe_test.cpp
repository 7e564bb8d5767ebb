// Named pipes between server instances and clients of this process, through
// the platform layer alone: the same tests run against Unix-domain sockets
// natively and against the system's named pipes under wine.
#include "sys/named_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "sys/directories.h"
#include "sys/error.h"
#include "sys/seam.h"
#include "tests/utils/files.h"

namespace volsten {
namespace {

namespace fs = std::filesystem;

// Owns an end for the length of a test.
class PipeEnd {
 public:
  PipeEnd() = default;
  ~PipeEnd() {
    if (value_ != kSysNoNamedPipe) sysNamedPipeClose(value_);
  }
  PipeEnd(const PipeEnd&) = delete;
  PipeEnd& operator=(const PipeEnd&) = delete;

  SysNamedPipe* out() { return &value_; }
  SysNamedPipe get() const { return value_; }
  // Forgets the value first: a closed handle's value may name a newer one.
  bool close() {
    SysNamedPipe value = value_;
    value_ = kSysNoNamedPipe;
    return sysNamedPipeClose(value);
  }

 private:
  SysNamedPipe value_ = kSysNoNamedPipe;
};

std::string lastErrorText() {
  char text[256];
  sysErrorText(sysLastError(), text, sizeof text);
  return text;
}

// Opens as a client does: another pass whenever an instance came free.
SysPipeOpen openPipe(const std::string& name, uint32_t waitMs, PipeEnd* end) {
  SysPipeOpen result;
  do {
    result = sysNamedPipeOpen(name.c_str(), waitMs, end->out());
  } while (result == SysPipeOpen::TryAgain);
  return result;
}

// One write at one end, one read at the other.
void expectCarried(SysNamedPipe from, SysNamedPipe to, const std::string& text) {
  ASSERT_EQ(sysNamedPipeWrite(from, text.data(), static_cast<uint32_t>(text.size())),
            SysPipeIo::Done)
      << lastErrorText();
  char buffer[64];
  uint32_t received = 0;
  ASSERT_EQ(sysNamedPipeRead(to, buffer, sizeof buffer, &received), SysPipeIo::Done)
      << lastErrorText();
  EXPECT_EQ(std::string(buffer, received), text);
}

// Runs a call on a thread of its own; the destructor joins it, also when an
// assertion ends the test early.
class Background {
 public:
  explicit Background(std::function<void()> call)
      : thread_([this, call] {
          started_ = true;
          call();
        }) {}
  ~Background() { join(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  // Returns once the call has most likely begun to block: it has started,
  // and a moment has passed.
  void letBlock() const {
    while (!started_) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

 private:
  std::atomic<bool> started_{false};
  std::thread thread_;
};

class NamedPipeTest : public ::testing::Test {
 public:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }

  // A name of this test's own: a socket path in its temporary directory, or
  // on Windows a name in the pipe namespace, unique by that directory's name.
  std::string name(const std::string& base) const {
    if (sysOsFamily() == SysFamily::Posix) return dir_.path(base + ".sock");
    return "\\\\.\\pipe\\" + dir_.root().filename().string() + "-" + base;
  }
  bool serve(const std::string& pipe, uint32_t maxInstances, PipeEnd* instance) {
    return sysNamedPipeCreate(pipe.c_str(), true, maxInstances, instance->out());
  }
  // The pipe "pair" with client_ connected to its one instance server_.
  void connectPair() {
    ASSERT_TRUE(serve(name("pair"), 1, &server_)) << lastErrorText();
    ASSERT_EQ(openPipe(name("pair"), 1000, &client_), SysPipeOpen::Opened) << lastErrorText();
    ASSERT_EQ(sysNamedPipeAccept(server_.get()), SysPipeAccept::Connected) << lastErrorText();
  }

  testing::TempDir dir_;
  PipeEnd server_;
  PipeEnd client_;
  PipeEnd extra_;
};

TEST_F(NamedPipeTest, CarriesBytesBothWays) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  expectCarried(client_.get(), server_.get(), "ping");
  expectCarried(server_.get(), client_.get(), "pong!");
}

TEST(NamedPipeLocalName, DoesNotCutANameToFit) {
  char name[8];
  EXPECT_FALSE(sysLocalPipeName("local", name, sizeof name));
}

// A call that must fail, leave no end open and give the reason.
class NamedPipeRefusedTest;

struct RefusedCase {
  const char* name;
  std::function<bool(NamedPipeRefusedTest&, SysNamedPipe* end)> call;  // true on success
  bool wineAllows = false;  // wine accepts the flag that asks for the check, without the check
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class NamedPipeRefusedTest : public NamedPipeTest,
                             public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(NamedPipeRefusedTest, FailsWithAReasonAndNothingOpen) {
  PipeEnd end;
  sysSetLastError(0);
  bool done = GetParam().call(*this, end.out());
  if (done && GetParam().wineAllows && sysSeamRunsUnderWine()) {
    GTEST_SKIP() << "wine does not make this check";
  }
  EXPECT_FALSE(done);
  EXPECT_NE(sysLastError(), 0u);
  EXPECT_NE(lastErrorText(), "");
  EXPECT_EQ(end.get(), kSysNoNamedPipe);
}

bool opened(const std::string& pipe, SysNamedPipe* end) {
  return sysNamedPipeOpen(pipe.c_str(), 0, end) != SysPipeOpen::Failed;
}

const RefusedCase kRefused[] = {
    {"OpenOfANameNobodyServes",
     [](NamedPipeRefusedTest& t, SysNamedPipe* end) { return opened(t.name("nobody"), end); }},
    {"OpenOfAnEmptyName", [](NamedPipeRefusedTest&, SysNamedPipe* end) { return opened("", end); }},
    {"FirstInstanceOfATakenName",
     [](NamedPipeRefusedTest& t, SysNamedPipe* end) {
       EXPECT_TRUE(t.serve(t.name("taken"), 2, &t.extra_));
       return sysNamedPipeCreate(t.name("taken").c_str(), true, 2, end);
     },
     true},
    {"InstanceBeyondTheLimit",
     [](NamedPipeRefusedTest& t, SysNamedPipe* end) {
       EXPECT_TRUE(t.serve(t.name("single"), 1, &t.extra_));
       return sysNamedPipeCreate(t.name("single").c_str(), false, 1, end);
     }},
    {"NoInstancesAllowed",
     [](NamedPipeRefusedTest& t, SysNamedPipe* end) {
       return sysNamedPipeCreate(t.name("none").c_str(), true, 0, end);
     }},
    {"MoreThanUnlimitedInstances",
     [](NamedPipeRefusedTest& t, SysNamedPipe* end) {
       return sysNamedPipeCreate(t.name("many").c_str(), true, kSysPipeUnlimitedInstances + 1, end);
     }},
};

INSTANTIATE_TEST_SUITE_P(Calls, NamedPipeRefusedTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

// How one end goes away, and what the other end's next read or write gives.
enum class Gone { ClientClosed, ServerClosed, ServerDisconnected };

struct GoneCase {
  const char* name;
  Gone how;
  bool write;
  SysPipeIo expected;
};

void PrintTo(const GoneCase& c, std::ostream* os) { *os << c.name; }

class NamedPipeGonePeerTest : public NamedPipeTest,
                              public ::testing::WithParamInterface<GoneCase> {};

// Writes fail rather than raise a signal: a SIGPIPE would end this program.
TEST_P(NamedPipeGonePeerTest, TheOtherEndSeesItGone) {
  ASSERT_NO_FATAL_FAILURE(connectPair());
  SysNamedPipe survivor = server_.get();
  switch (GetParam().how) {
    case Gone::ClientClosed: ASSERT_TRUE(client_.close()); break;
    case Gone::ServerClosed:
      ASSERT_TRUE(server_.close());
      survivor = client_.get();
      break;
    case Gone::ServerDisconnected:
      ASSERT_TRUE(sysNamedPipeDisconnect(server_.get())) << lastErrorText();
      survivor = client_.get();
      break;
  }
  char buffer[16] = "x";
  uint32_t received = 99;
  SysPipeIo result = GetParam().write
                         ? sysNamedPipeWrite(survivor, buffer, 1)
                         : sysNamedPipeRead(survivor, buffer, sizeof buffer, &received);
  EXPECT_EQ(result, GetParam().expected);
  if (!GetParam().write) {
    EXPECT_EQ(received, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, NamedPipeGonePeerTest,
    ::testing::Values(
        GoneCase{"ReadAfterTheClientClosed", Gone::ClientClosed, false, SysPipeIo::PeerGone},
        GoneCase{"ReadAfterTheServerClosed", Gone::ServerClosed, false, SysPipeIo::PeerGone},
        GoneCase{"ReadAfterADisconnect", Gone::ServerDisconnected, false, SysPipeIo::PeerGone},
        GoneCase{"WriteAfterTheClientClosed", Gone::ClientClosed, true, SysPipeIo::Failed},
        GoneCase{"WriteAfterTheServerClosed", Gone::ServerClosed, true, SysPipeIo::Failed},
        GoneCase{"WriteAfterADisconnect", Gone::ServerDisconnected, true, SysPipeIo::Failed}),
    [](const auto& info) { return std::string(info.param.name); });

// A call blocked on an end that another thread closes.
enum class Blocked { AcceptOnAWaitingInstance, ReadOnAnInstance, ReadOnAClientEnd };

std::string blockedName(Blocked b) {
  switch (b) {
    case Blocked::AcceptOnAWaitingInstance: return "AcceptOnAWaitingInstance";
    case Blocked::ReadOnAnInstance: return "ReadOnAnInstance";
    case Blocked::ReadOnAClientEnd: return "ReadOnAClientEnd";
  }
  return "?";
}

void PrintTo(Blocked b, std::ostream* os) { *os << blockedName(b); }

class NamedPipeCloseWakesTest : public NamedPipeTest,
                                public ::testing::WithParamInterface<Blocked> {};

TEST_P(NamedPipeCloseWakesTest, TheBlockedCallReturns) {
  PipeEnd* closing = &server_;
  if (GetParam() == Blocked::AcceptOnAWaitingInstance) {
    ASSERT_TRUE(serve(name("wake"), 1, &server_)) << lastErrorText();
  } else {
    ASSERT_NO_FATAL_FAILURE(connectPair());
    if (GetParam() == Blocked::ReadOnAClientEnd) closing = &client_;
  }
  SysNamedPipe end = closing->get();
  SysPipeAccept accepted = SysPipeAccept::Failed;
  SysPipeIo read = SysPipeIo::Done;
  Background call([&] {
    char buffer[8];
    uint32_t received;
    if (GetParam() == Blocked::AcceptOnAWaitingInstance) {
      accepted = sysNamedPipeAccept(end);
    } else {
      read = sysNamedPipeRead(end, buffer, sizeof buffer, &received);
    }
  });
  call.letBlock();
  ASSERT_TRUE(closing->close());
  call.join();
  if (GetParam() == Blocked::AcceptOnAWaitingInstance) {
    EXPECT_EQ(accepted, SysPipeAccept::Connected);  // the wait ended; the caller knows why
  } else {
    EXPECT_NE(read, SysPipeIo::Done);
  }
}

INSTANTIATE_TEST_SUITE_P(Calls, NamedPipeCloseWakesTest,
                         ::testing::Values(Blocked::AcceptOnAWaitingInstance,
                                           Blocked::ReadOnAnInstance, Blocked::ReadOnAClientEnd),
                         [](const auto& info) { return blockedName(info.param); });

// The instances of a pipe wait for clients together: ending one wait must
// not end the pipe.
TEST_F(NamedPipeTest, ClosingAWaitingInstanceLeavesTheOthersServing) {
  std::string pipe = name("shared");
  ASSERT_TRUE(serve(pipe, 2, &extra_)) << lastErrorText();
  ASSERT_TRUE(sysNamedPipeCreate(pipe.c_str(), false, 2, server_.out())) << lastErrorText();
  SysNamedPipe waiting = extra_.get();
  Background call([&] { sysNamedPipeAccept(waiting); });
  call.letBlock();
  ASSERT_TRUE(extra_.close());
  call.join();
  ASSERT_EQ(openPipe(pipe, 1000, &client_), SysPipeOpen::Opened) << lastErrorText();
  ASSERT_EQ(sysNamedPipeAccept(server_.get()), SysPipeAccept::Connected) << lastErrorText();
  expectCarried(client_.get(), server_.get(), "still here");
}

// On POSIX a pipe is a socket file; Windows' pipes live in a namespace of
// their own and carry an access list instead (sysNamedPipeAccessText gives
// it), so there these tests skip.
class NamedPipeSocketFileTest : public NamedPipeTest {
 public:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(NamedPipeTest::SetUp());
    PipeEnd probe;
    ASSERT_TRUE(serve(name("probe"), 1, &probe)) << lastErrorText();
    char text[512];
    if (sysNamedPipeAccessText(probe.get(), text, sizeof text)) {
      GTEST_SKIP() << "pipes here are no files";
    }
  }
};

// What is at the path before the first instance is created there.
class NamedPipePathTest;

struct PathCase {
  const char* name;
  std::function<void(NamedPipePathTest&, const std::string& path)> prepare;
  bool created;
  std::function<void(NamedPipePathTest&, const std::string& path)> check;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class NamedPipePathTest : public NamedPipeSocketFileTest,
                          public ::testing::WithParamInterface<PathCase> {
 public:
  // A socket file without a listener: a pipe whose file was moved away
  // leaves it when it closes.
  void makeStaleSocket(const std::string& path) {
    PipeEnd gone;
    ASSERT_TRUE(serve(name("moved"), 1, &gone)) << lastErrorText();
    fs::rename(name("moved"), path);
    ASSERT_TRUE(gone.close());
    ASSERT_TRUE(fs::is_socket(fs::symlink_status(path)));
  }
};

TEST_P(NamedPipePathTest, FirstInstanceTakesOnlyAFreeOrStalePath) {
  std::string path = name("path");
  ASSERT_NO_FATAL_FAILURE(GetParam().prepare(*this, path));
  EXPECT_EQ(serve(path, 1, &server_), GetParam().created) << lastErrorText();
  GetParam().check(*this, path);
}

const PathCase kPaths[] = {
    {"RegularFileIsRefused",
     [](NamedPipePathTest&, const std::string& path) {
       ASSERT_TRUE(testing::writeFile(path, "data"));
     },
     false,
     [](NamedPipePathTest&, const std::string& path) {
       EXPECT_EQ(testing::readFile(path), "data");
     }},
    {"SymbolicLinkIsRefusedNotFollowed",
     [](NamedPipePathTest& t, const std::string& path) {
       ASSERT_NO_FATAL_FAILURE(t.makeStaleSocket(t.name("target")));
       fs::create_symlink(t.name("target"), path);
     },
     false,
     [](NamedPipePathTest& t, const std::string& path) {
       EXPECT_TRUE(fs::is_symlink(fs::symlink_status(path)));
       EXPECT_TRUE(fs::is_socket(fs::symlink_status(t.name("target"))));
     }},
    {"ServedSocketIsRefused",
     [](NamedPipePathTest& t, const std::string& path) {
       // A link to another pipe's file: served, but not by a pipe of this
       // name, as another process's would be.
       ASSERT_TRUE(t.serve(t.name("served"), 1, &t.extra_));
       fs::create_hard_link(t.name("served"), path);
     },
     false,
     [](NamedPipePathTest&, const std::string& path) {
       EXPECT_TRUE(fs::is_socket(fs::symlink_status(path)));
     }},
    {"StaleSocketIsReplaced",
     [](NamedPipePathTest& t, const std::string& path) {
       ASSERT_NO_FATAL_FAILURE(t.makeStaleSocket(path));
     },
     true,
     [](NamedPipePathTest& t, const std::string& path) {
       ASSERT_EQ(openPipe(path, 1000, &t.client_), SysPipeOpen::Opened) << lastErrorText();
       EXPECT_EQ(sysNamedPipeAccept(t.server_.get()), SysPipeAccept::Connected);
     }},
};

INSTANTIATE_TEST_SUITE_P(Files, NamedPipePathTest, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NamedPipeSocketFileTest, FileGoesWithTheLastInstance) {
  std::string pipe = name("last");
  ASSERT_TRUE(serve(pipe, 2, &server_)) << lastErrorText();
  ASSERT_TRUE(sysNamedPipeCreate(pipe.c_str(), false, 2, extra_.out())) << lastErrorText();
  ASSERT_TRUE(server_.close());
  EXPECT_TRUE(fs::is_socket(fs::symlink_status(pipe)));
  ASSERT_TRUE(extra_.close());
  EXPECT_FALSE(fs::exists(fs::symlink_status(pipe)));
}

TEST_F(NamedPipeSocketFileTest, FileSomeoneElsePutThereStays) {
  std::string pipe = name("replaced");
  ASSERT_TRUE(serve(pipe, 1, &server_)) << lastErrorText();
  fs::rename(pipe, name("moved"));
  ASSERT_TRUE(testing::writeFile(pipe, "theirs"));
  ASSERT_TRUE(server_.close());
  EXPECT_EQ(testing::readFile(pipe), "theirs");
}

}  // namespace
}  // namespace volsten
