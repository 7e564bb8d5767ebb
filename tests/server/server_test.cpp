// The server's conversations, served by the library's own TCP listener in
// this process and read through the library's client side: file channels,
// the path join, and raw bytes where a client misbehaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/str.h"
#include "config/file_channel.h"
#include "config/request.h"
#include "net/dispatch/dispatcher.h"
#include "net/tcp/tcp_transport.h"
#include "server/conversation.h"
#include "server/server_options.h"
#include "tests/config/profile_dir.h"
#include "tests/support/eventually.h"
#include "tests/support/scripted_server.h"
#include "utils/path_join.h"

namespace volsten {
namespace {

using testing::wireField;

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    std::filesystem::create_directories(root_.root() / "dir");
    testing::writeFile(root_.path("dir/file.txt"), "first line\nsecond\nlast");
    std::strcpy(settings_.root, root_.root().string().c_str());
    settings_.quiet = true;
    environment_ = openEnvironment(nullptr, nullptr, 0);
    startListening("");
  }
  void TearDown() override {
    if (listener_ != 0) closeListener(nullptr, listener_);
    freeEnvironment(nullptr, environment_);
    EXPECT_EQ(channelServiceState().open, 0);
  }
  void startListening(const std::string& extra) {
    if (listener_ != 0) closeListener(nullptr, listener_);
    listener_ =
        listen(nullptr, environment_, ("Protocol=TCP;Host=127.0.0.1;Port=0" + extra).c_str(), NTS,
               serveAcceptedConnection, reinterpret_cast<uintptr_t>(&settings_));
    ASSERT_NE(listener_, 0);
    int32_t port =
        tcpListenerPort(nullptr, dispatcherHandles().lookup(nullptr, listener_)->transportHandle);
    connect_ = "Protocol=TCP;Host=127.0.0.1;Port=" + std::to_string(port) + ";ReceiveTimeout=20";
    profile_.writeProfile("[srv]\nConnect = \"" + connect_ + "\"\n");
  }
  // Every line of a file read through the server, joined by "|".
  static std::string readRemote(const char* path, int* error) {
    FileChannel* channel = openChannel(path, "r");
    *error = errno;
    if (channel == nullptr) return "<none>";
    std::string all;
    char line[64];
    while (readChannelLine(line, sizeof line, channel) != nullptr) all += std::string(line) + "|";
    closeChannel(channel);
    return all;
  }

  testing::TempDir root_;
  testing::ProfileDir profile_;
  ServerSettings settings_{};
  int32_t environment_ = 0;
  int32_t listener_ = 0;
  std::string connect_;
};

TEST_F(ServerTest, ServesTheLinesOfAFileUnderTheRoot) {
  int error = -1;
  EXPECT_EQ(readRemote("//srv/dir/file.txt", &error), "first line\n|second\n|last|");
  EXPECT_EQ(error, 0);
}

TEST_F(ServerTest, JoinsADirectoryWithTheLocalRule) {
  char out[512];
  DiagContext* diag = diagCreate(nullptr);
  EXPECT_EQ(pathJoin(diag, "//srv/etc", NTS, "services", NTS, out, sizeof out), STATUS_SUCCESS);
  char expected[512];
  pathJoinLocal(nullptr, "etc", NTS, "services", NTS, expected, sizeof expected);
  EXPECT_EQ(std::string(out), "//srv/" + std::string(expected));
  diagFree(diag);
}

TEST_F(ServerTest, TwoChannelsShareOnePooledConnectionInTurn) {
  FileChannel* first = openChannel("//srv/dir/file.txt", "r");
  FileChannel* second = openChannel("//srv/dir/file.txt", "r");
  ASSERT_TRUE(first != nullptr && second != nullptr);
  char a[64];
  char b[64];
  ASSERT_NE(readChannelLine(a, sizeof a, first), nullptr);
  ASSERT_NE(readChannelLine(b, sizeof b, second), nullptr);
  EXPECT_STREQ(a, "first line\n");
  EXPECT_STREQ(b, "first line\n");
  ASSERT_NE(readChannelLine(a, sizeof a, first), nullptr);
  EXPECT_STREQ(a, "second\n");
  EXPECT_EQ(closeChannel(first), 0);
  EXPECT_EQ(closeChannel(second), 0);
}

TEST_F(ServerTest, AConnectionHoldsABoundedNumberOfOpenFiles) {
  // The channels share one pooled connection, so its limit counts them all.
  std::vector<FileChannel*> open;
  for (int i = 0; i < kMaxOpenFiles; ++i) open.push_back(openChannel("//srv/dir/file.txt", "r"));
  EXPECT_EQ(std::count(open.begin(), open.end(), nullptr), 0);
  errno = 0;
  EXPECT_EQ(openChannel("//srv/dir/file.txt", "r"), nullptr);
  EXPECT_EQ(errno, EMFILE);
  for (FileChannel* channel : open) closeChannel(channel);
}

struct RefusalCase {
  const char* name;
  const char* path;
  const char* mode;
  int error;
  friend void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }
};

class ServerRefusalTest : public ServerTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ServerRefusalTest, RefusesWithHandleZeroAndItsCode) {
  const RefusalCase& c = GetParam();
  errno = 0;
  EXPECT_EQ(openChannel(c.path, c.mode), nullptr);
  EXPECT_EQ(errno, c.error);
  // The connection goes on serving.
  int error = -1;
  EXPECT_EQ(readRemote("//srv/dir/file.txt", &error), "first line\n|second\n|last|");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ServerRefusalTest,
    ::testing::Values(RefusalCase{"DotDot", "//srv/dir/../../outside", "r", EACCES},
                      RefusalCase{"DotDotInside", "//srv/dir/../dir/file.txt", "r", EACCES},
                      RefusalCase{"Absolute", "//srv//etc/passwd", "r", EACCES},
                      RefusalCase{"DriveLetter", "//srv/C:/windows/win.ini", "r", EACCES},
                      RefusalCase{"Device", "//srv/dir/NUL.txt", "r", EACCES},
                      RefusalCase{"WriteMode", "//srv/dir/file.txt", "w", EACCES},
                      RefusalCase{"UpdateMode", "//srv/dir/file.txt", "r+", EACCES},
                      RefusalCase{"Missing", "//srv/dir/none.txt", "r", ENOENT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerTest, ALinkOutOfTheRootIsRefused) {
  testing::TempDir outside;
  testing::writeFile(outside.path("secret.txt"), "secret\n");
  std::error_code error;
  std::filesystem::create_symlink(outside.path("secret.txt"), root_.path("dir/link.txt"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  errno = 0;
  EXPECT_EQ(openChannel("//srv/dir/link.txt", "r"), nullptr);
  EXPECT_EQ(errno, EACCES);
}

// A raw conversation: what a client sends, and what comes back until the
// server ends the connection.
std::string converse(const std::string& target, const std::string& request) {
  int32_t environment = openEnvironment(nullptr, "ConnectionPooling=No", NTS);
  int32_t connection = connect(nullptr, environment, target.c_str(), NTS);
  send(nullptr, connection, request.data(), static_cast<int32_t>(request.size()));
  send(nullptr, connection, nullptr, 0);
  std::string reply;
  char byte = 0;
  while (receive(nullptr, connection, &byte, 1) == STATUS_SUCCESS) reply += byte;
  freeEnvironment(nullptr, environment);
  return reply;
}

TEST_F(ServerTest, RequestsThatAreNoneEndOnlyThatConnection) {
  const std::string hello = wireField("VOLSTEN") + wireField("StdIO");
  const std::string cases[] = {
      "garbage",                                   // no greeting
      wireField("VOLSTEN") + wireField("Other"),   // unknown service
      hello + "\x09",                              // unknown request code
      hello + "\x01" + wireField("dir/file.txt"),  // cut: the mode never comes
      hello + "\x05" + wireField("64") + wireField(std::string(5000, '1')),
  };
  for (const std::string& request : cases) {
    // The server answers nothing and closes: the stream ends.
    EXPECT_EQ(converse(connect_, request), "") << request.substr(0, 20);
  }
  int error = -1;
  EXPECT_EQ(readRemote("//srv/dir/file.txt", &error), "first line\n|second\n|last|");
}

TEST_F(ServerTest, UnknownHandlesAreAnsweredWithTheBadHandleCode) {
  const std::string hello = wireField("VOLSTEN") + wireField("StdIO");
  std::string request = hello + "\x05" + wireField("64") + wireField("3") + "\x02" +
                        wireField("01") + "\x07" + wireField("t") + wireField("99999999999");
  std::string expected = wireField("0") + wireField("2") + wireField("1") + wireField("2") +
                         wireField("1") + wireField("2");
  // The client ends after its requests; the answers arrive before the end.
  EXPECT_EQ(converse(connect_, request + "\x09"), expected);
}

TEST_F(ServerTest, ASilentClientIsDroppedAfterTheReceiveTimeout) {
  startListening(";ReceiveTimeout=1");
  int32_t environment = openEnvironment(nullptr, nullptr, 0);
  int32_t connection = connect(nullptr, environment, connect_.c_str(), NTS);
  std::string hello = wireField("VOLSTEN");
  send(nullptr, connection, hello.data(), static_cast<int32_t>(hello.size()));
  send(nullptr, connection, nullptr, 0);
  char byte = 0;
  // Nothing more is sent: the server gives up and the stream ends.
  EXPECT_EQ(receive(nullptr, connection, &byte, 1), STATUS_NO_DATA);
  freeEnvironment(nullptr, environment);
}

TEST(ServerOptionsTest, UsageErrorsAreRefusedAndTheDefaultIsTheVolstenService) {
  testing::TempDir dir;
  std::string root = dir.root().string();
  std::string file = dir.path("file");
  testing::writeFile(file, "");
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"--listen", "Protocol=TCP"},
      {"--root"},
      {"--root", root, "--root", root},
      {"--root", root, "--port", "7"},
      {"--root", file},
      {"--root", dir.path("missing")},
  };
  for (const auto& words : refused) {
    std::vector<char*> argv = {const_cast<char*>("volsten-server")};
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    ServerOptions options;
    const char* problem = nullptr;
    EXPECT_FALSE(parseServerOptions(static_cast<int>(argv.size()), argv.data(), &options, &problem))
        << (words.empty() ? "" : words.back());
    EXPECT_NE(problem, nullptr);
  }
  std::vector<char*> argv = {const_cast<char*>("volsten-server"), const_cast<char*>("--root"),
                             root.data()};
  ServerOptions options;
  const char* problem = nullptr;
  ASSERT_TRUE(parseServerOptions(3, argv.data(), &options, &problem));
  ASSERT_EQ(options.listenCount, 1);
  EXPECT_STREQ(options.listens[0], "Protocol=TCP");
  EXPECT_FALSE(options.stdio);
}

}  // namespace
}  // namespace volsten
