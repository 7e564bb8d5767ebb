// The programs as a user runs them, over each transport: regservice
// registers the service "volsten", volsten-server serves a root directory,
// and volsten reads files, joins paths and reads the profile through it.
// Natively the programs' directories (services file, profile) are the
// test's own through the redirecting mains; under wine the services
// database is the private prefix's.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/str.h"
#include "net/dispatch/dispatcher.h"
#include "net/tcp/tcp_transport.h"
#include "server_child_line.h"
#include "sys/environment.h"
#include "sys/named_pipe.h"
#include "sys/seam.h"
#include "sys/service_lookup.h"
#include "tests/support/eventually.h"
#include "tests/utils/files.h"
#include "tests/utils/program.h"

namespace volsten {
namespace {

using testing::ProgramRun;
using testing::ProgramStarter;
using testing::runProgram;

enum class Transport { Tcp, Local, Child };

// A port nobody listens on at the moment.
int32_t freePort() {
  int32_t environment = openEnvironment(nullptr, nullptr, 0);
  int32_t listener = listen(
      nullptr, environment, "Protocol=TCP;Host=127.0.0.1;Port=0", NTS, [](int32_t, uintptr_t) {},
      0);
  int32_t port =
      tcpListenerPort(nullptr, dispatcherHandles().lookup(nullptr, listener)->transportHandle);
  closeListener(nullptr, listener);
  freeEnvironment(nullptr, environment);
  return port;
}

class EndToEndTest : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    root_ = dir_.path("root");
    std::filesystem::create_directories(root_ + "/dir");
    testing::writeFile(root_ + "/dir/file.txt", "alpha\nbeta  \nlast");
    // Stored in the server's code: the table sends ~ as _ and shows _ as ~.
    testing::writeFile(root_ + "/dir/fi_e.txt", "_ok_\n");
    testing::writeFile(dir_.path("table.txt"), "126:95\n");
    switch (GetParam()) {
      case Transport::Tcp: startTcp(); break;
      case Transport::Local: startLocal(); break;
      case Transport::Child:
        connect_ = std::string("Protocol=DetachedServer;Command={") + kServerChildCommand + " " +
                   dir_.root().string() + " --stdio --quiet --root " + root_ + "}";
        break;
    }
    testing::writeFile(dir_.path("volsten.ini"),
                       "[srv]\nConnect = \"" + connect_ +
                           "\"\nCodeTranslation = " + dir_.path("table.txt") + "\n");
  }
  void TearDown() override {
    sysSetEnvironment("VOLSTEN_ZUL_DISABLE_CONNECT", nullptr);
    if (server_ == nullptr) return;
    sysProgramStopAndCheck();
  }

  void startServer(const std::vector<std::string>& listen) {
    std::vector<std::string> args = {dir_.root().string(), "--root", root_};
    args.insert(args.end(), listen.begin(), listen.end());
    server_ = std::make_unique<ProgramStarter>(VOLSTEN_SERVER, args, dir_.path("server.log"));
    ASSERT_TRUE(server_->started());
    // Ready once it says so; a probing connection would only take the
    // named pipe's one waiting instance away from the client.
    ASSERT_TRUE(testing::eventually([this] {
      return testing::readFile(dir_.path("server.log")).find("listening") != std::string::npos;
    })) << testing::readFile(dir_.path("server.log"));
  }
  // Registers "volsten" on a free port and starts the server without
  // --listen, so that it listens at that service.
  void startTcp() {
    int32_t port = freePort();
    std::string text = std::to_string(port);
    if (sysSeamRunsUnderWine()) {
      // The prefix's services file; an entry from an earlier run stays.
      runProgram(VOLSTEN_TOOL, {"-service", "-name", "volsten", "-port", text, "-protocol", "tcp"},
                 dir_.path("tool.log"));
      port = sysServicePort("volsten", "tcp");
    } else {
      testing::writeFile(dir_.path("services"), "echo 7/tcp\n");
      ProgramRun tool = runProgram(
          VOLSTEN_REDIRECTED_TOOL,
          {dir_.root().string(), "-service", "-name", "volsten", "-port", text, "-protocol", "tcp"},
          dir_.path("tool.log"));
      ASSERT_EQ(tool.exitCode, 0);
      ASSERT_NE(testing::readFile(dir_.path("services")).find("volsten"), std::string::npos);
    }
    connect_ = "Protocol=TCP;Host=127.0.0.1;Port=" + std::to_string(port);
    startServer({});
  }
  void startLocal() {
    char name[512];
    ASSERT_TRUE(sysLocalPipeName("end-to-end", name, sizeof name));
    connect_ = std::string("Protocol=Local;Path=") + name;
    startServer({"--listen", connect_});
  }
  void sysProgramStopAndCheck() {
    sysProgramStop(serverProgram());
    ProgramRun run = server_->wait();
    // Natively the termination signal stops the server cleanly.
    if (!sysSeamRunsUnderWine()) {
      EXPECT_EQ(run.exitCode, 0) << run.output;
      EXPECT_NE(run.output.find("stopping"), std::string::npos) << run.output;
    }
  }
  SysProgram serverProgram() { return server_->program(); }

  // The client's output with Windows line ends (a text-mode console
  // program's) read as "\n".
  ProgramRun client(const std::vector<std::string>& args) {
    std::vector<std::string> all = {dir_.root().string()};
    all.insert(all.end(), args.begin(), args.end());
    ProgramRun run = runProgram(VOLSTEN_CLIENT, all, dir_.path("client.log"));
    for (size_t at; (at = run.output.find("\r\n")) != std::string::npos;) run.output.erase(at, 1);
    return run;
  }

  testing::TempDir dir_;
  std::string root_;
  std::string connect_;
  std::unique_ptr<ProgramStarter> server_;
};

TEST_P(EndToEndTest, CatPrintsTheFilesLinesExactlyAndTranslated) {
  ProgramRun run = client({"cat", "//srv/dir/file.txt", "//srv/dir/fi~e.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "alpha\nbeta  \nlast~ok~\n");
}

TEST_P(EndToEndTest, JoinPrintsTheServersJoin) {
  ProgramRun run = client({"join", "//srv/dir", "services"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  const char* separator = sysSeamRunsUnderWine() ? "\\" : "/";
  EXPECT_EQ(run.output, std::string("//srv/dir") + separator + "services\n");
}

TEST_P(EndToEndTest, TheProfileIsReadLocally) {
  ProgramRun run = client({"profile", "srv"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "Connect\nCodeTranslation\n");
}

TEST_P(EndToEndTest, SwitchedOffClientServerUseFailsWith08001) {
  ASSERT_TRUE(sysSetEnvironment("VOLSTEN_ZUL_DISABLE_CONNECT", "Yes"));
  ProgramRun run = client({"cat", "//srv/dir/file.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output.rfind("08001 0 ", 0), 0u) << run.output;
}

TEST(ProgramUsageTest, UsageErrorsExitWith2AndTheUsage) {
  testing::TempDir dir;
  for (const char* program : {VOLSTEN_SERVER, VOLSTEN_CLIENT}) {
    ProgramRun run =
        runProgram(program, {dir.root().string(), "--no-such-option"}, dir.path("usage.log"));
    EXPECT_EQ(run.exitCode, 2) << program;
    EXPECT_NE(run.output.find("usage: "), std::string::npos) << run.output;
  }
}

std::string transportName(const ::testing::TestParamInfo<Transport>& info) {
  const char* const names[] = {"Tcp", "Local", "Child"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Transports, EndToEndTest,
                         ::testing::Values(Transport::Tcp, Transport::Local, Transport::Child),
                         transportName);

}  // namespace
}  // namespace volsten
