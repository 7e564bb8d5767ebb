#include "net/command/command_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/str.h"
#include "command_child_line.h"
#include "sys/error.h"
#include "sys/fault.h"
#include "sys/process.h"
#include "sys/seam.h"
#include "tests/support/diag_reader.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using testing::recordsOf;
using testing::SeenRecord;

std::string connectionString(const std::string& steps) {
  return std::string("Protocol=DetachedServer;Command={") + kChildCommand + " " + steps + "}";
}

bool mentionsPipe(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text.find("pipe") != std::string::npos;
}

// Termination may complete after the call that asked for it returns.
bool goneWithin(uint32_t processId, std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (sysProcessAlive(processId)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ends_ = sysPipeEndsOpen();
    diag_ = diagCreate(nullptr);
    environment_ = commandOpenEnvironment(diag_);
    ASSERT_NE(environment_, 0);
  }
  void TearDown() override {
    if (environment_ != 0) {
      EXPECT_EQ(commandFreeEnvironment(nullptr, environment_), 0);
    }
    EXPECT_FALSE(commandHandles().isAttached());
    EXPECT_EQ(sysPipeEndsOpen(), ends_);
    diagFree(diag_);
  }

  int32_t connect(const std::string& text, int32_t environment = 0) {
    return commandConnect(diag_, environment != 0 ? environment : environment_, text.c_str(), NTS);
  }
  // A child that has said it is up and then waits to be terminated.
  int32_t connectRunning(int32_t environment = 0) {
    int32_t c = connect(connectionString("out:up hold"), environment);
    if (c != 0) {
      EXPECT_EQ(read(c, 2), "up") << messages();
    }
    return c;
  }
  uint32_t processOf(int32_t connection) {
    return commandHandles().lookup(nullptr, connection)->process.processId;
  }
  void send(int32_t connection, const std::string& data) {
    ASSERT_EQ(commandSend(diag_, connection, data.data(), static_cast<int32_t>(data.size())), 0)
        << messages();
  }
  // Reads until n bytes arrived or a read fails.
  std::string read(int32_t connection, size_t n) {
    std::string got;
    char buffer[64];
    while (got.size() < n) {
      int32_t count = -1;
      int32_t want = static_cast<int32_t>(std::min(sizeof buffer, n - got.size()));
      Status status = commandReceive(diag_, connection, buffer, want, &count);
      if (status < 0 || status == STATUS_NO_DATA) break;
      got.append(buffer, static_cast<size_t>(count));
    }
    return got;
  }
  std::string messages() {
    std::string all;
    for (const auto& r : recordsOf(diag_)) all += r.state + " " + r.message + "|";
    return all;
  }
  // The one record of a failed system call with this tag.
  std::string expectConnectionError(const std::string& tag) {
    auto records = recordsOf(diag_);
    diagClear(diag_);
    if (records.size() != 1u) {
      ADD_FAILURE() << records.size() << " records";
      return "";
    }
    EXPECT_EQ(records[0].state, "HY000");
    EXPECT_EQ(records[0].severity, SEVERITY_ERROR);
    EXPECT_EQ(records[0].native, 0);
    std::string prefix = "Verbindungsfehler " + tag;
    EXPECT_EQ(records[0].message.rfind(prefix, 0), 0u) << records[0].message;
    EXPECT_GT(records[0].message.size(), prefix.size());
    return records[0].message.substr(prefix.size());
  }

  testing::FaultGuard faults_;
  long ends_ = 0;
  DiagContext* diag_ = nullptr;
  int32_t environment_ = 0;
};

TEST_F(CommandTest, EchoesARoundTripThroughARealChild) {
  int32_t c = connect(connectionString("echo"));
  ASSERT_NE(c, 0) << messages();
  std::string data;
  for (int i = 0; i < 256; ++i) {
    if (i != '#' && i != '~') data += static_cast<char>(i);
  }
  send(c, data);
  EXPECT_EQ(read(c, data.size()), data);
  send(c, "second");
  EXPECT_EQ(read(c, 6), "second");
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS) << messages();
  EXPECT_EQ(commandCloseConnection(diag_, c), 0);
}

TEST_F(CommandTest, TransfersOfNothingAreRefusedAndTheConnectionGoesOn) {
  int32_t c = connect(connectionString("echo"));
  ASSERT_NE(c, 0) << messages();
  char text[1024];
  sysErrorText(sysInvalidParameterCode(), text, sizeof text);
  char byte;
  const struct {
    char* buffer;
    int32_t capacity;
  } reads[] = {{nullptr, 1}, {&byte, 0}, {&byte, -1}};
  for (const auto& r : reads) {
    int32_t count = -7;
    EXPECT_EQ(commandReceive(diag_, c, r.buffer, r.capacity, &count), STATUS_ERROR);
    EXPECT_EQ(expectConnectionError("(receive): "), text) << r.capacity;
    EXPECT_EQ(count, -7);
    EXPECT_EQ(commandReceive(nullptr, c, r.buffer, r.capacity, &count), STATUS_ERROR);
  }
  EXPECT_EQ(commandSend(diag_, c, nullptr, 1), STATUS_ERROR);
  EXPECT_EQ(expectConnectionError("(send): "), text);
  EXPECT_EQ(commandSend(nullptr, c, nullptr, 1), STATUS_ERROR);
  EXPECT_EQ(commandSend(diag_, c, nullptr, 0), STATUS_SUCCESS);
  EXPECT_EQ(commandSend(diag_, c, "unsent", -1), STATUS_SUCCESS);
  send(c, "ok");
  EXPECT_EQ(read(c, 2), "ok");
  EXPECT_EQ(commandCloseConnection(diag_, c), 0);
}

TEST_F(CommandTest, StandardErrorArrivesInTheStream) {
  int32_t c = connect(connectionString("out:A err:B out:C echo"));
  ASSERT_NE(c, 0) << messages();
  EXPECT_EQ(read(c, 3), "ABC");
  send(c, "x#y#z");  // y goes through the child's standard error
  EXPECT_EQ(read(c, 3), "xyz");
  EXPECT_EQ(commandCloseConnection(diag_, c), 0);
}

TEST_F(CommandTest, ReadAfterTheChildExitedAndWasDrainedFails) {
  int32_t c = connect(connectionString("out:bye"));
  ASSERT_NE(c, 0) << messages();
  EXPECT_EQ(read(c, 3), "bye");
  char byte;
  int32_t count = -7;
  EXPECT_EQ(commandReceive(diag_, c, &byte, 1, &count), STATUS_ERROR);
  EXPECT_EQ(count, -7);  // not written
  EXPECT_TRUE(mentionsPipe(expectConnectionError("(receive): ")));
  // Without a context the failure still shows in the status.
  EXPECT_EQ(commandReceive(nullptr, c, &byte, 1, &count), STATUS_ERROR);
}

TEST_F(CommandTest, ChildEndsOnRequestAndWritesThenFail) {
  int32_t c = connect(connectionString("echo"));
  ASSERT_NE(c, 0) << messages();
  send(c, "last~");
  EXPECT_EQ(read(c, 4), "last");
  char byte;
  EXPECT_EQ(commandReceive(diag_, c, &byte, 1, nullptr), STATUS_ERROR);
  expectConnectionError("(receive): ");
  // An exiting process may let go of its standard input a moment after its
  // output: writes go into the pipe until then.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  Status status;
  while ((status = commandSend(diag_, c, "m", 1)) == STATUS_SUCCESS &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(status, STATUS_ERROR);
  expectConnectionError("(send): ");
}

TEST_F(CommandTest, CloseConnectionTerminatesTheRunningChild) {
  int32_t c = connectRunning();
  ASSERT_NE(c, 0) << messages();
  uint32_t id = processOf(c);
  EXPECT_TRUE(sysProcessAlive(id));
  EXPECT_EQ(commandCloseConnection(diag_, c), 0);
  EXPECT_TRUE(goneWithin(id, std::chrono::seconds(10)));
  EXPECT_EQ(commandHandles().lookup(nullptr, c), nullptr);
  EXPECT_EQ(sysPipeEndsOpen(), ends_);
}

TEST_F(CommandTest, FreeEnvironmentTerminatesItsOwnChildrenOnly) {
  int32_t other = commandOpenEnvironment(diag_);
  ASSERT_NE(other, 0);
  int32_t a = connectRunning(), b = connectRunning(), kept = connectRunning(other);
  ASSERT_TRUE(a != 0 && b != 0 && kept != 0) << messages();
  uint32_t ida = processOf(a), idb = processOf(b), idk = processOf(kept);

  EXPECT_EQ(commandFreeEnvironment(diag_, environment_), 0);
  environment_ = 0;
  EXPECT_TRUE(goneWithin(ida, std::chrono::seconds(10)));
  EXPECT_TRUE(goneWithin(idb, std::chrono::seconds(10)));
  EXPECT_TRUE(sysProcessAlive(idk));
  EXPECT_TRUE(commandHandles().checkType(diag_, kept, HANDLE_CONNECTION));

  EXPECT_EQ(commandFreeEnvironment(diag_, other), 0);
  EXPECT_TRUE(goneWithin(idk, std::chrono::seconds(10)));
  EXPECT_EQ(messages(), "");
}

TEST_F(CommandTest, LastCommandPairIsStarted) {
  std::string text = connectionString("out:first") + ";command={" + kChildCommand +
                     " out:lower};Command={" + kChildCommand + " out:second}";
  int32_t c = connect(text);
  ASSERT_NE(c, 0) << messages();
  EXPECT_EQ(read(c, 100), "second");
  EXPECT_EQ(commandCloseConnection(nullptr, c), 0);
}

TEST_F(CommandTest, LongCommandIsCutAndStartedAsCut) {
  std::string head = std::string(kChildCommand) + " out:";
  int32_t c = connect("Protocol=DetachedServer;Command=" + head + std::string(3000, 'x'));
  ASSERT_NE(c, 0) << messages();
  EXPECT_EQ(
      recordsOf(diag_),
      (std::vector<SeenRecord>{{SEVERITY_WARNING, "01004", 1, "Daten wurden abgeschnitten "}}));
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS_WITH_INFO);
  EXPECT_EQ(read(c, 3000), std::string(kCommandLineSize - 1 - head.size(), 'x'));
  EXPECT_EQ(commandCloseConnection(nullptr, c), 0);
}

TEST_F(CommandTest, EarlierErrorInTheContextDoesNotUndoAStart) {
  diagAdd(diag_, "HY000", 0, SEVERITY_ERROR, "earlier", nullptr, nullptr);
  int32_t c = connect(connectionString("echo"));
  ASSERT_NE(c, 0);
  EXPECT_EQ(commandCloseConnection(diag_, c), STATUS_ERROR);  // the earlier error
  EXPECT_EQ(recordsOf(diag_).size(), 1u);
}

struct StartFailure {
  const char* name;
  std::string text;
  FaultPoint fault;
  int successes;  // -1: no fault
};

class CommandStartTest : public CommandTest, public ::testing::WithParamInterface<StartFailure> {};

TEST_P(CommandStartTest, FailsWithConnectErrorAndLeavesNothingOpen) {
  const StartFailure& f = GetParam();
  if (f.successes >= 0) faultArm(f.fault, f.successes, false);
  EXPECT_EQ(connect(f.text), 0);
  expectConnectionError("(connect): ");
  EXPECT_EQ(sysPipeEndsOpen(), ends_);
  // The failed attempt's handle went back: the next one is the lowest free.
  EXPECT_EQ(commandHandles().allocate(diag_), environment_ + 1);
  EXPECT_TRUE(commandHandles().release(diag_, environment_ + 1));
  // Without a context the failure is the same.
  if (f.successes >= 0) faultArm(f.fault, f.successes, false);
  EXPECT_EQ(commandConnect(nullptr, environment_, f.text.c_str(), NTS), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CommandStartTest,
    ::testing::Values(
        StartFailure{"no_command", "Protocol=DetachedServer", FaultPoint::Count, -1},
        StartFailure{"empty_command", "Protocol=DetachedServer;Command=;X=1", FaultPoint::Count,
                     -1},
        StartFailure{"blank_command", "Protocol=DetachedServer;Command={   }", FaultPoint::Count,
                     -1},
        StartFailure{"lower_case_key", "Protocol=DetachedServer;command=x", FaultPoint::Count, -1},
        StartFailure{"first_pipe", connectionString("echo"), FaultPoint::PipeCreate, 0},
        StartFailure{"second_pipe", connectionString("echo"), FaultPoint::PipeCreate, 1},
        StartFailure{"process", connectionString("echo"), FaultPoint::ChildStart, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandTest, HandlesOfTheWrongKindAreRefused) {
  char byte;
  EXPECT_EQ(commandReceive(diag_, environment_, &byte, 1, nullptr), STATUS_ERROR);
  EXPECT_EQ(commandSend(diag_, 0, "x", 1), STATUS_ERROR);
  EXPECT_EQ(commandConnect(diag_, 501, "Command=x", NTS), 0);
  EXPECT_EQ(commandCloseListener(diag_, environment_), STATUS_ERROR);
  EXPECT_EQ(commandCloseConnection(diag_, environment_), STATUS_ERROR);
  EXPECT_EQ(commandFreeEnvironment(diag_, 0), STATUS_ERROR);
  std::vector<std::string> seen;
  for (const auto& r : recordsOf(diag_)) seen.push_back(r.message);
  const std::string type = "Ung\xfcltiger Handle Typ", invalid = "Ung\xfcltiges Handle";
  EXPECT_EQ(seen, (std::vector<std::string>{type, invalid, invalid, invalid, invalid, type, type,
                                            invalid}));
  // Without a context a refused read still does not pass for success.
  EXPECT_EQ(commandReceive(nullptr, 0, &byte, 1, nullptr), STATUS_ERROR);
}

// Starts a second child from another thread at the moment the first start
// holds its pipes open, and waits (a second at most) for that start to end.
// A start that excludes others meanwhile makes the wait run out.
class StartMeanwhile {
 public:
  explicit StartMeanwhile(int32_t environment) : environment_(environment) {
    sysSeamSetChildStartHook(&hook_);
  }
  ~StartMeanwhile() {
    sysSeamSetChildStartHook(nullptr);
    if (other_.joinable()) other_.join();
    if (connection_ != 0) commandCloseConnection(nullptr, connection_);
  }
  StartMeanwhile(const StartMeanwhile&) = delete;
  StartMeanwhile& operator=(const StartMeanwhile&) = delete;

  int32_t connection() {
    if (other_.joinable()) other_.join();
    return connection_;
  }
  // Ends the second child, and with it whatever it inherited.
  void end() {
    if (connection() != 0) commandCloseConnection(nullptr, connection_);
    connection_ = 0;
  }

 private:
  static void run(void* user) {
    auto* self = static_cast<StartMeanwhile*>(user);
    if (self->fired_.exchange(true)) return;  // the second start's own call
    self->other_ = std::thread([self] {
      std::string text = connectionString("hold");
      int32_t c = commandConnect(nullptr, self->environment_, text.c_str(), NTS);
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->connection_ = c;
      self->done_ = true;
      self->changed_.notify_all();
    });
    std::unique_lock<std::mutex> lock(self->mutex_);
    self->changed_.wait_for(lock, std::chrono::seconds(1), [self] { return self->done_; });
  }

  int32_t environment_;
  SysChildStartHook hook_{run, this};
  std::atomic<bool> fired_{false};
  std::thread other_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  int32_t connection_ = 0;
};

TEST_F(CommandTest, ChildStartedByAnotherThreadMeanwhileInheritsNoEnds) {
  StartMeanwhile meanwhile(environment_);
  int32_t first = connect(connectionString("out:bye"));
  ASSERT_NE(first, 0) << messages();
  ASSERT_NE(meanwhile.connection(), 0);
  EXPECT_EQ(read(first, 3), "bye");
  // The first child has exited: its output ends at once, unless the second
  // child holds a copy of the first one's pipe end.
  auto ended = std::async(std::launch::async, [first] {
    char byte;
    return commandReceive(nullptr, first, &byte, 1, nullptr);
  });
  bool endedAlone = ended.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  EXPECT_TRUE(endedAlone) << "the second child inherited the first one's pipe";
  meanwhile.end();
  EXPECT_EQ(ended.get(), STATUS_ERROR);
  EXPECT_EQ(commandCloseConnection(diag_, first), 0);
}

}  // namespace
}  // namespace volsten
