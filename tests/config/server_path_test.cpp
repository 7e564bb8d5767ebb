// Server paths: splitting and unquoting, the profile's say on what is local,
// and the path join's "Base" conversation with a scripted server.
#include "config/server_path.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/str.h"

#include "tests/config/profile_dir.h"
#include "tests/support/diag_reader.h"
#include "tests/support/scripted_server.h"
#include "utils/path_join.h"

namespace volsten {
namespace {

using testing::recordsOf;
using testing::Script;
using testing::ScriptedServer;
using testing::wireField;

struct SplitCase {
  const char* path;
  int32_t serverSize;
  const char* server;
  const char* rest;
};

TEST(SplitServerPathTest, GivesTheServerAndTheRest) {
  const SplitCase cases[] = {
      {"//srv/dir/file", 100, "srv", "dir/file"},
      {"\\\\srv\\dir\\file", 100, "srv", "dir\\file"},
      {"/\\srv/dir  ", 100, "srv", "dir"},
      {"//srv", 100, "srv", ""},
      {"//", 100, "", "//"},
      {"C:/dir", 100, "", "C:/dir"},
      {"//abcdefgh/x", 4, "abc", "x"},
      {"", 100, "", ""},
  };
  for (const SplitCase& c : cases) {
    char server[100];
    char rest[100];
    splitServerPath(c.path, NTS, rest, sizeof rest, server, c.serverSize);
    EXPECT_STREQ(server, c.server) << c.path;
    EXPECT_STREQ(rest, c.rest) << c.path;
  }
}

TEST(UnquotePathTest, DropsOnePairOfQuotes) {
  const std::pair<const char*, std::string> cases[] = {
      {"\"a b\"", "a b"},      {"'x", "x"}, {"plain", "plain"}, {"\"q\"  ", "q"},
      {"'mixed\"", "mixed\""},
  };
  for (const auto& [text, expected] : cases) {
    const char* start;
    int32_t length;
    unquotePath(text, NTS, &start, &length);
    EXPECT_EQ(std::string(start, static_cast<size_t>(strLength(start, length))), expected) << text;
  }
}

TEST(ServerPathTest, OnlyAConfiguredServerWithARestIsRemote) {
  testing::ProfileDir dir;
  std::string table = dir.write("table.txt", "65:66\n");
  dir.writeProfile("[srv]\nConnect = Protocol=TCP\nCodeTranslation = " + table +
                   "\n[bare]\nCodeTranslation = x\n");
  const std::pair<const char*, int> cases[] = {
      {"//srv/x", 0}, {"\"//srv/x\"", 0}, {"\\\\srv\\x", 0}, {"//srv", 1}, {"//srv/", 1},
      {"///x", 1},    {"//bare/x", 1},    {"//other/x", 1},  {"srv/x", 1},
  };
  for (const auto& [path, local] : cases) EXPECT_EQ(isLocalPath(path, NTS), local) << path;
  EXPECT_EQ(hasServerConnect("srv", NTS), 1);
  EXPECT_EQ(hasServerConnect("bare", NTS), 0);

  char out[64];
  EXPECT_EQ(serverConnectString("//srv/x", NTS, out, sizeof out), 1);
  EXPECT_STREQ(out, "Protocol=TCP");
  EXPECT_EQ(serverConnectString("//bare/x", NTS, out, sizeof out), 0);
  EXPECT_EQ(serverRelativePath("'//srv/a/b'", NTS, out, sizeof out), 1);
  EXPECT_STREQ(out, "a/b");
  const CodeTable* codes = serverCodeTable("//srv/x", NTS);
  ASSERT_NE(codes, nullptr);
  EXPECT_EQ(codes->outbound[65], 66);
  EXPECT_EQ(serverCodeTable("//other/x", NTS), nullptr);
}

// --- The path join on a server ---------------------------------------------

std::string baseRequest(const std::string& directory, const std::string& name) {
  return wireField("VOLSTEN") + wireField("Base") + "\x05" + wireField(directory) + wireField(name);
}

class ServerJoinTest : public ::testing::Test {
 protected:
  void SetUp() override { diag_ = diagCreate(nullptr); }
  void TearDown() override { diagFree(diag_); }
  void serve(const Script& script) {
    server_ = std::make_unique<ScriptedServer>(script.steps());
    ASSERT_TRUE(server_->listening());
    dir_.writeProfile("[srv]\nConnect = \"" + server_->connectionString() + "\"\n");
  }
  std::string join(const char* directory, DiagContext* diag, int32_t outSize = 512) {
    char out[512];
    pathJoin(diag, directory, NTS, "services", NTS, out, outSize);
    return out;
  }

  testing::ProfileDir dir_;
  std::unique_ptr<ScriptedServer> server_;
  DiagContext* diag_ = nullptr;
};

TEST_F(ServerJoinTest, TheServerJoinsAndTheResultNamesItWithSlashes) {
  Script script;
  script
      .then(baseRequest("etc", "services"),
            wireField("/srv-root/etc/services") + wireField("0") + wireField("1"))
      .then(std::string(1, '\0'), "");
  serve(script);
  EXPECT_EQ(join("\\\\srv\\etc", diag_), "//srv//srv-root/etc/services");
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS) << testing::messagesOf(diag_);
  EXPECT_EQ(server_->received(), script.expected());  // the finish byte 0 included
}

TEST_F(ServerJoinTest, AFailedConversationLeavesTheServerPrefixAndItsRecords) {
  Script script;
  script.then(baseRequest("etc", "services"), wireField("ignored") + wireField("-1") +
                                                  wireField("0") + wireField("-1") +
                                                  wireField("S1000") + wireField("3") +
                                                  wireField("kein Verzeichnis") + wireField("1"));
  serve(script);
  EXPECT_EQ(join("//srv/etc", diag_), "//srv/");
  EXPECT_EQ(diagStatus(diag_), STATUS_ERROR);
  EXPECT_EQ(recordsOf(diag_),
            (std::vector<testing::SeenRecord>{{-1, "S1000", 3, "kein Verzeichnis"}}));
  EXPECT_EQ(server_->received(), script.expected());  // no finish byte
}

// A server that closes inside its reply status: with a context the join
// fails with no data, and without one (the tool's case) it is still empty.
class ServerJoinCutTest : public ServerJoinTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ServerJoinCutTest, AReplyCutShortIsNoAnswer) {
  Script script;
  script.then(baseRequest("etc", "services"), wireField("/half/way") + wireField("0"), true);
  serve(script);
  DiagContext* diag = GetParam() ? diag_ : nullptr;
  EXPECT_EQ(join("//srv/etc", diag), "//srv/");
  if (diag != nullptr) {
    EXPECT_EQ(diagStatus(diag), STATUS_NO_DATA);
  }
}

INSTANTIATE_TEST_SUITE_P(Contexts, ServerJoinCutTest, ::testing::Bool());

TEST_F(ServerJoinTest, AJoinLongerThanOutIsCut) {
  Script script;
  script
      .then(baseRequest("etc", "services"),
            wireField("/a/long/answer") + wireField("0") + wireField("1"))
      .then(std::string(1, '\0'), "");
  serve(script);
  EXPECT_EQ(join("//srv/etc", diag_, 10), "//srv//a/");
  EXPECT_EQ(recordsOf(diag_).at(0).state, "01004");
}

TEST_F(ServerJoinTest, AnUnconfiguredServerIsJoinedLocally) {
  dir_.writeProfile("[other]\nConnect = x\n");
  std::string joined = join("//srv/etc", diag_);
  EXPECT_EQ(joined.substr(0, 9), "//srv/etc");
  EXPECT_EQ(joined.substr(10), "services");
}

}  // namespace
}  // namespace volsten
