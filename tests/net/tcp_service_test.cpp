// A client that names only the host reaches the port the services database
// gives for "volsten", the entry the tool writes. Under wine the shipped
// tool registers it in the test's private prefix; natively the tool's entry
// point registers it in a redirected services file, which the socket
// library's lookup then reads too.
#include <gtest/gtest.h>

#include <string>

#include "base/str.h"
#include "net/tcp/tcp_transport.h"
#include "sys/seam.h"
#include "tests/net/tcp_peer.h"
#include "tests/utils/files.h"
#include "tests/utils/program.h"
#include "utils/locate.h"
#include "utils/options.h"
#include "utils/regservice.h"

namespace volsten {
namespace {

// Drops the lines of earlier runs that registered "volsten": the tool adds
// no second entry, so an old port would stay.
void forgetVolsten(const std::string& path) {
  std::string text = testing::readFile(path);
  std::string kept;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(at, next - at);
    if (line.rfind("volsten ", 0) != 0 && line.rfind("volsten\t", 0) != 0) kept += line;
    at = next;
  }
  ASSERT_TRUE(testing::writeFile(path, kept));
}

class TcpServiceTest : public testing::LoopbackServer {
 protected:
  void TearDown() override {
    LoopbackServer::TearDown();
    sysSeamReset();
  }
  void registerVolsten() {
    const std::string tool = VOLSTEN_TOOL;
    const std::string port = std::to_string(port_);
    if (tool.empty()) {
      ASSERT_TRUE(dir_.ok());
      sysSeamRedirectDirectories(dir_.root().string().c_str(), dir_.root().string().c_str());
      ASSERT_TRUE(testing::writeFile(dir_.path("services"), "# services\necho 7/tcp\n"));
      const char* argv[] = {"regservice", "-service", "-name",     "volsten", "-port",
                            port.c_str(), "-protocol", "tcp"};
      ASSERT_EQ(regserviceMain(8, argv), 0);
      return;
    }
    serviceOptions() = ServiceOptions{};
    ASSERT_EQ(locateServicesFile(), 1);
    forgetVolsten(serviceOptions().servicesPath);
    testing::ProgramRun run = testing::runProgram(
        tool, {"-service", "-name", "volsten", "-port", port, "-protocol", "tcp"},
        dir_.path("out"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
  }
  testing::TempDir dir_;
};

TEST_F(TcpServiceTest, HostAloneReachesTheVolstenServicePort) {
  registerVolsten();
  int32_t connection = connect("Host=127.0.0.1");
  ASSERT_NE(connection, 0) << messages();
  ASSERT_EQ(tcpSend(diag_, connection, "v", 1), STATUS_SUCCESS);
  std::string reply;
  EXPECT_EQ(receive(connection, &reply), STATUS_SUCCESS);
  EXPECT_EQ(reply, "v");
  tcpCloseConnection(diag_, connection);
}

}  // namespace
}  // namespace volsten
