// File channels: local files, the standard streams, and remote files read
// through a scripted "StdIO" server over a real loopback connection.
#include "config/file_channel.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>

#include "sys/fault.h"
#include "tests/config/profile_dir.h"
#include "tests/support/fault_guard.h"
#include "tests/support/scripted_server.h"

namespace volsten {
namespace {

using testing::Script;
using testing::ScriptedServer;
using testing::wireField;

class FileChannelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ChannelServiceState state = channelServiceState();
    EXPECT_EQ(state.open, 0);
    EXPECT_EQ(state.environment, 0);
  }
  // Every line the channel gives, read with room size.
  static std::string readAll(FileChannel* channel, int32_t size = 64) {
    std::string all;
    char line[64];
    while (readChannelLine(line, size, channel) != nullptr) all += std::string(line) + "|";
    return all;
  }

  testing::ProfileDir dir_;
};

TEST_F(FileChannelTest, ALocalFileIsReadLineByLineAndClosedOnce) {
  std::string path = dir_.write("lines.txt", "one\ntwo  \nthree");
  FileChannel* channel = openChannel(path.c_str(), "r");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(readAll(channel, 4), "one|\n|two|  \n|thr|ee|");
  EXPECT_EQ(closeChannel(channel), 0);
  errno = 0;
  EXPECT_EQ(closeChannel(channel), 1);
  EXPECT_EQ(errno, EBADF);
  char line[8];
  EXPECT_EQ(readChannelLine(line, sizeof line, channel), nullptr);
  EXPECT_EQ(errno, EBADF);
}

TEST_F(FileChannelTest, LocalTranslationComesFromANamedTableOrNone) {
  std::string table = dir_.write("table.txt", "/\n97:65\n");  // inbound a -> A
  std::string path = dir_.write("lines.txt", "banana\nbanana  ");
  FileChannel* channel = openChannel(path.c_str(), "r");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(setChannelTranslation("", channel), 1);
  EXPECT_EQ(errno, ENOENT);
  char line[16];
  ASSERT_NE(readChannelLine(line, sizeof line, channel), nullptr);
  EXPECT_STREQ(line, "banana\n");
  EXPECT_EQ(setChannelTranslation(table.c_str(), channel), 0);
  EXPECT_EQ(errno, 0);
  ASSERT_NE(readChannelLine(line, sizeof line, channel), nullptr);
  EXPECT_STREQ(line, "bAnAnA");  // the last line loses its trailing blanks
  closeChannel(channel);
}

TEST_F(FileChannelTest, AFailedLocalOpenKeepsTheSystemsReasonAndNoChannel) {
  errno = 0;
  EXPECT_EQ(openChannel(dir_.write("x", "").append("-missing").c_str(), "r"), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(FileChannelTest, TheServiceLivesFromTheFirstOpenToTheLastClose) {
  std::string path = dir_.write("a.txt", "a\n");
  FileChannel* first = openChannel(path.c_str(), "r");
  FileChannel* second = openChannel(path.c_str(), "r");
  ASSERT_TRUE(first != nullptr && second != nullptr);
  ChannelServiceState open = channelServiceState();
  EXPECT_EQ(open.open, 2);
  EXPECT_NE(open.environment, 0);
  closeChannel(first);
  EXPECT_EQ(channelServiceState().open, 1);
  closeChannel(second);
  EXPECT_EQ(channelServiceState().environment, 0);
  FileChannel* again = openChannel(path.c_str(), "r");
  EXPECT_NE(channelServiceState().environment, 0);
  closeChannel(again);
}

TEST_F(FileChannelTest, StandardStreamsAreUsedDirectly) {
  std::string path = dir_.write("input.txt", "from stdin\n");
  ASSERT_NE(std::freopen(path.c_str(), "r", stdin), nullptr);
  FileChannel* in = standardChannel(stdin);
  ASSERT_NE(in, nullptr);
  char line[32];
  ASSERT_NE(readChannelLine(line, sizeof line, in), nullptr);
  EXPECT_STREQ(line, "from stdin\n");
  errno = 0;
  EXPECT_EQ(setChannelTranslation("", standardChannel(stderr)), 1);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(closeChannel(in), 0);
  EXPECT_EQ(standardChannel(nullptr), nullptr);
  EXPECT_EQ(channelServiceState().open, 0);
}

// Out of memory at every allocation of an open, one after the other: each
// failure is ENOMEM and leaves no channel and no environment behind.
class FileChannelMemoryTest : public FileChannelTest,
                              public ::testing::WithParamInterface<FaultPoint> {};

TEST_P(FileChannelMemoryTest, EveryFailedAllocationOfAnOpenIsReportedAndUndone) {
  testing::FaultGuard guard;
  std::string path = dir_.write("a.txt", "a\n");
  for (int successes = 0; successes < 200; ++successes) {
    faultArm(GetParam(), successes);
    errno = 0;
    FileChannel* channel = openChannel(path.c_str(), "r");
    faultDisarmAll();
    if (channel != nullptr) {
      EXPECT_GT(successes, 0);
      EXPECT_EQ(closeChannel(channel), 0);
      return;
    }
    EXPECT_EQ(errno, ENOMEM) << successes;
    ChannelServiceState state = channelServiceState();
    ASSERT_EQ(state.open, 0) << successes;
    ASSERT_EQ(state.environment, 0) << successes;
  }
  FAIL() << "the open never succeeded";
}

INSTANTIATE_TEST_SUITE_P(Points, FileChannelMemoryTest,
                         ::testing::Values(FaultPoint::SegmentAlloc, FaultPoint::GeneralAlloc,
                                           FaultPoint::MutexCreate));

TEST_F(FileChannelTest, ThreadsOpenAndCloseChannelsAtTheSameTime) {
  std::string path = dir_.write("shared.txt", "[S]\nK=v\n");
  auto work = [&path] {
    int read = 0;
    for (int i = 0; i < 50; ++i) {
      FileChannel* channel = openChannel(path.c_str(), "r");
      if (channel == nullptr) continue;
      char line[16];
      read += readChannelLine(line, sizeof line, channel) != nullptr;
      closeChannel(channel);
    }
    return read;
  };
  int first = 0;
  std::thread other([&] { first = work(); });
  int second = work();
  other.join();
  EXPECT_EQ(first + second, 100);
}

// --- Remote channels -------------------------------------------------------

std::string openRequest(const std::string& path) {
  return wireField("VOLSTEN") + wireField("StdIO") + "\x01" + wireField(path) + wireField("r");
}
std::string reply(const std::string& first, const std::string& second) {
  return wireField(first) + wireField(second);
}

class RemoteChannelTest : public FileChannelTest {
 protected:
  void serve(const Script& script) {
    server_ = std::make_unique<ScriptedServer>(script.steps());
    ASSERT_TRUE(server_->listening());
    dir_.writeProfile("[srv]\nConnect = \"" + server_->connectionString() + "\"\n");
  }
  std::unique_ptr<ScriptedServer> server_;
};

TEST_F(RemoteChannelTest, OpensReadsAndClosesThroughTheServer) {
  Script script;
  script.then(openRequest("some/file"), reply("h7", "0"))
      .then("\x05" + wireField("8") + wireField("h7"),
            reply("1", "0") + reply("12", "abcdefghij\n"))
      .then("\x05" + wireField("64") + wireField("h7"), reply("1", "0") + reply("4", "end"))
      .then("\x05" + wireField("64") + wireField("h7"), reply("0", "0"))
      .then("\x02" + wireField("h7"), reply("0", "0"));
  serve(script);
  FileChannel* channel = openChannel("//srv/some/file", "r");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(errno, 0);
  char line[64];
  // A line longer than the caller's room is cut to it, and the rest of its
  // field read, so the next request is answered in step.
  ASSERT_NE(readChannelLine(line, 8, channel), nullptr);
  EXPECT_STREQ(line, "abcdefg");
  EXPECT_EQ(readAll(channel), "end|");
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(closeChannel(channel), 0);
  EXPECT_EQ(server_->received(), script.expected());
}

class RemoteOpenRefusedTest : public RemoteChannelTest,
                              public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(RemoteOpenRefusedTest, AHandleOfZeroGivesNoChannelAndTheServersCode) {
  Script script;
  script.then(openRequest("f"), reply("0", std::to_string(GetParam().first)));
  serve(script);
  errno = -1;
  EXPECT_EQ(openChannel("//srv/f", "r"), nullptr);
  EXPECT_EQ(errno, GetParam().second);
  EXPECT_EQ(server_->received(), script.expected());
}

INSTANTIATE_TEST_SUITE_P(Codes, RemoteOpenRefusedTest,
                         ::testing::Values(std::pair{0, 0}, std::pair{1, EACCES},
                                           std::pair{7, ENOENT}, std::pair{11, ENOENT},
                                           std::pair{42, EINVAL}));

struct CutCase {
  const char* name;
  std::string openReply;  // what the server answers the open with
  bool close;
  friend void PrintTo(const CutCase& c, std::ostream* os) { *os << c.name; }
};

class RemoteOpenCutTest : public RemoteChannelTest,
                          public ::testing::WithParamInterface<CutCase> {};

TEST_P(RemoteOpenCutTest, AnOpenReplyThatIsNotWholeFailsWithEio) {
  Script script;
  script.then(openRequest("f"), GetParam().openReply, GetParam().close);
  serve(script);
  EXPECT_EQ(openChannel("//srv/f", "r"), nullptr);
  EXPECT_EQ(errno, EIO);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RemoteOpenCutTest,
    ::testing::Values(CutCase{"ServerClosesAtOnce", "", true},
                      CutCase{"ServerClosesInTheCode", wireField("h1") + "1", true},
                      CutCase{"HandleLongerThan49", reply(std::string(50, 'h'), "0"), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemoteChannelTest, AServerThatDiesInAReadFailsItWithoutHanging) {
  Script script;
  script.then(openRequest("f"), reply("h1", "0"))
      .then("\x05" + wireField("64") + wireField("h1"), reply("1", "0") + wireField("6") + "li",
            true);
  serve(script);
  FileChannel* channel = openChannel("//srv/f", "r");
  ASSERT_NE(channel, nullptr);
  char line[64];
  EXPECT_EQ(readChannelLine(line, sizeof line, channel), nullptr);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(closeChannel(channel), 1);
  EXPECT_TRUE(errno == EIO || errno == EINVAL) << errno;
}

TEST_F(RemoteChannelTest, RemoteTranslationIsTheServersAnswer) {
  Script script;
  script.then(openRequest("f"), reply("h1", "0"))
      .then("\x07" + wireField("latin") + wireField("h1"), reply("1", "7"))
      .then("\x02" + wireField("h1"), reply("0", "0"));
  serve(script);
  FileChannel* channel = openChannel("//srv/f", "r");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(setChannelTranslation("latin", channel), 1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(closeChannel(channel), 0);
  EXPECT_EQ(server_->received(), script.expected());
}

}  // namespace
}  // namespace volsten
