// End-to-end: the tool's program with its directories redirected into a
// private temporary directory, run as a separate process.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sys/directories.h"
#include "tests/utils/files.h"
#include "tests/utils/lock_holder.h"
#include "tests/utils/program.h"

namespace volsten {
namespace {

using testing::countEntries;
using testing::LockHolder;
using testing::placed;
using testing::ProgramRun;
using testing::ProgramStarter;
using testing::readFile;
using testing::writeFile;

std::string textNewline() { return sysOsFamily() == SysFamily::Posix ? "\n" : "\r\n"; }

class RegserviceRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    // Where the tool looks under the redirected directory.
    std::filesystem::path services = dir_.root();
    if (sysOsFamily() == SysFamily::WindowsNt) services /= "drivers/etc";
    std::filesystem::create_directories(services);
    services_ = (services / "services").string();
  }

  std::vector<std::string> withDirectory(const std::vector<std::string>& args) const {
    std::vector<std::string> all{dir_.root().string()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }

  ProgramRun run(const std::vector<std::string>& args, const std::string& outputName = "out") {
    return testing::runProgram(VOLSTEN_REDIRECTED_TOOL, withDirectory(args), dir_.path(outputName));
  }

  testing::TempDir dir_;
  std::string services_;
};

const std::vector<std::string> kWorkedExample{"-service", "-name",    "MyService",
                                              "-port",    "5000",     "-protocol",
                                              "TCP",      "-comment", "My Service"};

TEST_F(RegserviceRunTest, WorkedExampleThenSecondRunAddsNothing) {
  const std::string before = "# services\n" + placed({{0, "alpha"}, {23, "1/tcp\n"}}) +
                             placed({{0, "beta"}, {23, "2/tcp"}, {40, "# two\n"}}) +
                             placed({{0, "gamma"}, {23, "3/udp"}, {40, "# three\n"}}) +
                             placed({{0, "delta"}, {23, "4/udp\n"}}) +
                             placed({{2, "eps"}, {11, "5/tcp\n"}});
  ASSERT_TRUE(writeFile(services_, before));
  const std::string after =
      before + placed({{0, "myservice"}, {20, "5000/tcp"}, {40, "#My Service"}}) + textNewline();
  for (int round = 0; round < 2; ++round) {
    ProgramRun r = run(kWorkedExample);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(readFile(services_), after) << "round " << round;
  }
}

TEST_F(RegserviceRunTest, CrLfFileStaysCrLf) {
  const std::string before = "# x\r\nalpha 1/tcp\r\n";
  ASSERT_TRUE(writeFile(services_, before));
  ProgramRun r = run({"-service", "-name", "Foo", "-port", "80", "-protocol", "TCP"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(readFile(services_), before + placed({{0, "foo"}, {5, "80/tcp\r\n"}}));
}

TEST_F(RegserviceRunTest, QuotesInsideArgumentsAreRemoved) {
  ASSERT_TRUE(writeFile(services_, ""));
  ProgramRun r = run({"-service", "-name", "\"Quoted\"", "-port", "\"81x\"", "-protocol", "udp",
                      "-comment", "\"Two Words  \""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(readFile(services_),
            placed({{0, "quoted"}, {19, "81/udp"}, {52, "#Two Words  "}}) + textNewline());
}

TEST_F(RegserviceRunTest, MissingServicesFileIsNotCreated) {
  ProgramRun r = run(kWorkedExample);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_FALSE(std::filesystem::exists(services_));
}

class BadArgumentsTest : public RegserviceRunTest,
                         public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadArgumentsTest, ExitZeroSilentFileUntouched) {
  const std::string before = "foo 1/tcp\nlast line without end";
  ASSERT_TRUE(writeFile(services_, before));
  ProgramRun r = run(GetParam());
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(readFile(services_), before);
}

INSTANTIATE_TEST_SUITE_P(
    ArgumentLists, BadArgumentsTest,
    ::testing::Values(std::vector<std::string>{},
                      std::vector<std::string>{"-name", "bar", "-port", "80", "-protocol", "tcp"},
                      std::vector<std::string>{"-service", "-name", "bar", "-port", "-80"},
                      std::vector<std::string>{"-service", "-name", "-x", "-port", "80"},
                      std::vector<std::string>{"-service", "stray", "-name", "bar"},
                      std::vector<std::string>{"-name", "bar", "-service", "-comment"},
                      std::vector<std::string>{"-service", "-name", "bar", "-protocol"},
                      std::vector<std::string>{"-Service", "-name", "bar"},
                      std::vector<std::string>{"-service", "-name", "bar", "--port", "80"},
                      std::vector<std::string>{"-service", "-name", "foo", "-port", "2",
                                               "-protocol", "TCP"},
                      // Line breaks that would forge a second entry.
                      std::vector<std::string>{"-service", "-name", "bar", "-port",
                                               "80\nevil 666/tcp", "-protocol", "tcp"},
                      std::vector<std::string>{"-service", "-name", "bar", "-port", "80",
                                               "-protocol", "tcp", "-comment", "x\nevil 666/tcp"}));

TEST_F(RegserviceRunTest, ConcurrentRegistrationsLoseNoLine) {
  std::string before = "# shared\n";
  for (int i = 0; i < 1000; ++i) before += "old" + std::to_string(i) + " 1/tcp\n";
  ASSERT_TRUE(writeFile(services_, before));
  std::vector<std::unique_ptr<ProgramStarter>> runs;
  // While the test holds the lock, every run that starts queues up behind it;
  // released, they go at once. A run that reads before it locks would miss
  // the lines of the others.
  LockHolder gate(services_);
  ASSERT_TRUE(gate.locked());
  // Six different services and four copies of one more.
  for (int i = 0; i < 10; ++i) {
    std::string name = i < 6 ? "svc" + std::to_string(i) : "same";
    runs.push_back(std::make_unique<ProgramStarter>(
        VOLSTEN_REDIRECTED_TOOL,
        withDirectory(
            {"-service", "-name", name, "-port", std::to_string(1000 + i), "-protocol", "tcp"}),
        dir_.path("out" + std::to_string(i))));
    ASSERT_TRUE(runs.back()->started());
  }
  // Give the runs time to reach the lock; the outcome must be the same
  // whether or not they all did.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_TRUE(readFile(services_) == before) << "a run wrote while another held the lock";
  gate.release();
  for (auto& r : runs) {
    ProgramRun done = r->wait();
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.output, "");
  }
  const std::string after = readFile(services_);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(countEntries(after, "svc" + std::to_string(i)), 1) << i;
  EXPECT_EQ(countEntries(after, "same"), 1);
  EXPECT_EQ(testing::countLinesStartingWith(after, ""), 1001 + 7);
  EXPECT_EQ(after.compare(0, before.size(), before), 0);
}

}  // namespace
}  // namespace volsten
