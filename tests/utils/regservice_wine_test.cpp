// End-to-end under wine: the shipped program against the services file of
// the test's private prefix, and the system's service lookup in a new process
// finding what it wrote. Tests of this program share that file with each
// other, so every test registers names of its own and never expects the
// file to stay byte for byte the same.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/utils/files.h"
#include "tests/utils/program.h"
#include "utils/locate.h"
#include "utils/options.h"

namespace volsten {
namespace {

using testing::countEntries;
using testing::ProgramRun;
using testing::readFile;

class RegserviceWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    serviceOptions() = ServiceOptions{};
    ASSERT_EQ(locateServicesFile(), 1);
    services_ = serviceOptions().servicesPath;
    std::random_device random;
    unique_ = "vst" + std::to_string(random() % 100000000u);
    port_ = 20000 + static_cast<int>(random() % 40000u);
  }

  ProgramRun runTool(const std::vector<std::string>& args) {
    return testing::runProgram(VOLSTEN_TOOL, args, dir_.path("out"));
  }

  testing::TempDir dir_;
  std::string services_;
  std::string unique_;
  int port_ = 0;
};

TEST_F(RegserviceWineTest, RegisteredServiceIsFoundByANewProcess) {
  const std::vector<std::string> args{
      "-service",  "-name", "Up" + unique_, "-port",          std::to_string(port_),
      "-protocol", "TCP",   "-comment",     "added by a test"};
  for (int round = 0; round < 2; ++round) {
    ProgramRun r = runTool(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    const std::string after = readFile(services_);
    EXPECT_EQ(countEntries(after, "up" + unique_), 1) << "round " << round;
    // The prefix's file has CR LF line ends, and keeps them.
    size_t bareLineFeeds = 0;
    for (size_t at = after.find('\n'); at != std::string::npos; at = after.find('\n', at + 1)) {
      if (at == 0 || after[at - 1] != '\r') ++bareLineFeeds;
    }
    EXPECT_EQ(bareLineFeeds, 0u);
  }
  ProgramRun lookup =
      testing::runProgram(VOLSTEN_SERVICE_PORT, {"up" + unique_, "tcp"}, dir_.path("port"));
  EXPECT_EQ(lookup.exitCode, 0);
  EXPECT_EQ(lookup.output, std::to_string(port_));
}

TEST_F(RegserviceWineTest, BadArgumentsWriteNothing) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-service", "-name", unique_, "-port"},
        std::vector<std::string>{"-service", "-name", unique_, "-port", "1", "extra"},
        std::vector<std::string>{"-name", unique_, "-port", "1", "-protocol", "tcp"}}) {
    ProgramRun r = runTool(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
  }
  EXPECT_EQ(countEntries(readFile(services_), unique_), 0);
}

}  // namespace
}  // namespace volsten
