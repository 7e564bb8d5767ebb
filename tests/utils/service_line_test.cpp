#include "utils/service_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/utils/files.h"

namespace volsten {
namespace {

struct DefinesCase {
  const char* line;
  const char* name;
  const char* protocol;
  int result;
};

class LineDefinesServiceTest : public ::testing::TestWithParam<DefinesCase> {};

TEST_P(LineDefinesServiceTest, MatchesFirstNameAndProtocol) {
  const DefinesCase& c = GetParam();
  EXPECT_EQ(lineDefinesService(c.name, c.protocol, c.line), c.result) << c.line;
}

const std::string kLongName(130, 'a');
const std::string kLongLine = std::string(130, 'A') + " 1/tcp\n";
const std::string kName127(127, 'a');
const std::string kCutToken = kName127 + "b 1/tcp\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, LineDefinesServiceTest,
    ::testing::Values(
        DefinesCase{"  FOO\t80/TCP   # the foo service\n", "foo", "tcp", 1},
        DefinesCase{"  FOO\t80/TCP   # the foo service\n", "foo", "udp", 0},
        DefinesCase{"foo 81/tcp alias\n", "foo", "tcp", 1},
        DefinesCase{"foo 80/tcp#x\n", "foo", "tcp", 1},
        DefinesCase{"foo 80/tcp\r\n", "foo", "tcp", 1}, DefinesCase{"foo", "foo", "tcp", 0},
        DefinesCase{"foo#80/tcp", "foo", "tcp", 0}, DefinesCase{"foo 80 # /tcp\n", "foo", "tcp", 0},
        DefinesCase{"foo 80\n", "foo", "tcp", 0}, DefinesCase{"bar foo 80/tcp\n", "foo", "tcp", 0},
        DefinesCase{"foobar 80/tcp\n", "foo", "tcp", 0},
        DefinesCase{"# foo 80/tcp\n", "foo", "tcp", 0}, DefinesCase{"   \n", "foo", "tcp", 0},
        DefinesCase{"", "", "", 0}, DefinesCase{"foo 80/\n", "foo", "", 1},
        DefinesCase{"foo 80/tcpx\n", "foo", "tcp", 0}, DefinesCase{"Foo 80/tcp\n", "Foo", "tcp", 0},
        DefinesCase{kLongLine.c_str(), kLongName.c_str(), "tcp", 0},
        // Only 127 characters of a token count.
        DefinesCase{kCutToken.c_str(), kName127.c_str(), "tcp", 1}));

ColumnStats statsOf(int32_t defaultColumn, const std::vector<int32_t>& seen) {
  ColumnStats stats;
  resetColumnStats(&stats, defaultColumn);
  for (int32_t column : seen) recordColumn(&stats, column);
  return stats;
}

TEST(ColumnStatsTest, CountsDistinctColumnsInOrderFirstSeen) {
  ColumnStats stats = statsOf(21, {24, 24, 12, 24, 21});
  ASSERT_EQ(stats.count, 3);
  EXPECT_EQ(stats.positions[0], 21);
  EXPECT_EQ(stats.frequencies[0], 1);
  EXPECT_EQ(stats.positions[1], 24);
  EXPECT_EQ(stats.frequencies[1], 3);
  EXPECT_EQ(stats.positions[2], 12);
  EXPECT_EQ(stats.frequencies[2], 1);
}

TEST(ColumnStatsTest, ColumnsAfterTheTenthAreNotRecorded) {
  ColumnStats stats = statsOf(0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10, 10, 3});
  EXPECT_EQ(stats.count, 10);
  EXPECT_EQ(stats.positions[9], 9);
  EXPECT_EQ(stats.frequencies[3], 2);
  EXPECT_EQ(mostFrequentColumn(&stats), 3);
}

struct FrequentCase {
  int32_t defaultColumn;
  std::vector<int32_t> seen;
  int32_t most;
};

class MostFrequentColumnTest : public ::testing::TestWithParam<FrequentCase> {};

TEST_P(MostFrequentColumnTest, FirstOfTheMostFrequent) {
  ColumnStats stats = statsOf(GetParam().defaultColumn, GetParam().seen);
  EXPECT_EQ(mostFrequentColumn(&stats), GetParam().most);
}

INSTANTIATE_TEST_SUITE_P(Sequences, MostFrequentColumnTest,
                         ::testing::Values(FrequentCase{21, {}, 21}, FrequentCase{21, {12}, 12},
                                           FrequentCase{21, {24, 12, 12, 24}, 24},
                                           FrequentCase{21, {21, 24}, 21},
                                           FrequentCase{21, {24, 21}, 21},
                                           FrequentCase{52, {40, 40, 30, 30, 30}, 30},
                                           FrequentCase{0, {0, 0, 0, 0, 2}, 0}));

struct PadCase {
  const char* line;
  int32_t lineSize;
  int32_t column;
  int result;
  const char* after;
};

class PadToColumnTest : public ::testing::TestWithParam<PadCase> {};

TEST_P(PadToColumnTest, FillsOrSeparates) {
  const PadCase& c = GetParam();
  char line[64];
  std::strcpy(line, c.line);
  EXPECT_EQ(padToColumn(line, c.lineSize, c.column), c.result);
  EXPECT_STREQ(line, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, PadToColumnTest,
    ::testing::Values(PadCase{"ab", 64, 5, 1, "ab   "}, PadCase{"abcdef", 64, 3, 1, "abcdef "},
                      PadCase{"abc", 64, 3, 1, "abc"}, PadCase{"", 64, 0, 1, ""},
                      PadCase{"", 64, -4, 1, " "}, PadCase{"ab", 6, 5, 1, "ab   "},
                      PadCase{"ab", 6, 6, 0, "ab"}, PadCase{"abcde", 6, 2, 0, "abcde"}));

using testing::placed;

std::vector<std::string> exampleLines() {
  return {"# comment\n",
          placed({{0, "alpha"}, {23, "1/tcp\n"}}),
          placed({{0, "beta"}, {23, "2/tcp"}, {40, "# two\n"}}),
          placed({{0, "gamma"}, {23, "3/udp"}, {40, "# three\n"}}),
          placed({{0, "delta"}, {23, "4/udp\n"}}),
          placed({{2, "eps"}, {11, "5/tcp\n"}})};
}

// The columns of the worked example: entries at 0 (4 times) and 2, slashes
// at 24 (4 times) and 12, comments at 40 (twice).
EntryColumns exampleColumns() {
  EntryColumns columns;
  resetEntryColumns(&columns);
  for (const std::string& line : exampleLines()) learnColumns(&columns, line.c_str());
  return columns;
}

TEST(LearnColumnsTest, WorkedExampleStatistics) {
  EntryColumns c = exampleColumns();
  EXPECT_EQ(c.entry.count, 2);
  EXPECT_EQ(c.entry.frequencies[0], 4);
  EXPECT_EQ(c.entry.positions[1], 2);
  ASSERT_EQ(c.slash.count, 3);
  EXPECT_EQ(c.slash.positions[0], 21);
  EXPECT_EQ(c.slash.frequencies[0], 0);
  EXPECT_EQ(c.slash.positions[1], 24);
  EXPECT_EQ(c.slash.frequencies[1], 4);
  EXPECT_EQ(c.slash.positions[2], 12);
  ASSERT_EQ(c.comment.count, 2);
  EXPECT_EQ(c.comment.positions[1], 40);
  EXPECT_EQ(c.comment.frequencies[1], 2);
}

TEST(LearnColumnsTest, SlashInsideCommentCountsAndHashBeforeSlashDoesNot) {
  EntryColumns c;
  resetEntryColumns(&c);
  learnColumns(&c, "\tname 1 # see a/b\n");
  learnColumns(&c, "   \n");
  learnColumns(&c, "  # only a comment / here # x\n");
  EXPECT_EQ(c.entry.count, 2);
  EXPECT_EQ(c.entry.positions[1], 1);
  EXPECT_EQ(c.slash.positions[1], 15);
  EXPECT_EQ(c.comment.count, 1);
}

struct BuildCase {
  const char* label;
  bool example;  // worked-example columns, else the defaults
  EntryFields fields;
  std::string line;
};

class BuildEntryLineTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildEntryLineTest, PlacesFieldsAtColumns) {
  const BuildCase& c = GetParam();
  EntryColumns columns;
  if (c.example) {
    columns = exampleColumns();
  } else {
    resetEntryColumns(&columns);
  }
  char line[1024];
  EXPECT_EQ(buildEntryLine(line, sizeof line, columns, c.fields), 1);
  EXPECT_EQ(std::string(line), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BuildEntryLineTest,
    ::testing::Values(
        BuildCase{"WorkedExample",
                  true,
                  {"myservice", 5000, "tcp", "My Service", "\n"},
                  placed({{0, "myservice"}, {20, "5000/tcp"}, {40, "#My Service\n"}})},
        BuildCase{"NoEntryLines",
                  false,
                  {"myservice", 5000, "tcp", "My Service", "\n"},
                  placed({{0, "myservice"}, {17, "5000/tcp"}, {52, "#My Service\n"}})},
        BuildCase{"NoComment",
                  false,
                  {"foo", 80, "tcp", "", "\n"},
                  placed({{0, "foo"}, {19, "80/tcp\n"}})},
        BuildCase{"BlankComment",
                  false,
                  {"foo", 80, "tcp", "  ", "\n"},
                  placed({{0, "foo"}, {19, "80/tcp\n"}})},
        BuildCase{
            "EmptyProtocol", false, {"foo", 0, "", "", "\n"}, placed({{0, "foo"}, {20, "0/\n"}})},
        BuildCase{"NegativePort",
                  false,
                  {"foo", -5, "tcp", "", "\n"},
                  placed({{0, "foo"}, {19, "-5/tcp\n"}})},
        BuildCase{"EmptyName", false, {"", 7, "tcp", "", "\n"}, placed({{20, "7/tcp\n"}})},
        BuildCase{"NamePastPortColumn",
                  false,
                  {"averyveryverylongname", 80, "tcp", "", "\n"},
                  "averyveryverylongname 80/tcp\n"},
        // 17 characters end exactly where the port would start.
        BuildCase{"NameEndsAtPortColumn",
                  false,
                  {"seventeen-letters", 5000, "tcp", "", "\n"},
                  "seventeen-letters 5000/tcp\n"},
        BuildCase{"ProtocolEndsAtCommentColumn",
                  false,
                  {"n", 1, "protocol-of-thirty-letters----", "c", "\n"},
                  placed({{0, "n"}, {20, "1/protocol-of-thirty-letters----#c\n"}})},
        BuildCase{"CrLf",
                  false,
                  {"foo", 80, "tcp", "", "\r\n"},
                  placed({{0, "foo"}, {19, "80/tcp\r\n"}})}),
    [](const ::testing::TestParamInfo<BuildCase>& info) { return std::string(info.param.label); });

TEST(BuildEntryLineLimits, LongColumnsFallBackToOneBlankBetweenFields) {
  EntryColumns columns;
  resetEntryColumns(&columns);
  for (int i = 0; i < 3; ++i) {
    recordColumn(&columns.entry, 600);
    recordColumn(&columns.slash, 900);
    recordColumn(&columns.comment, 1000);
  }
  const std::string name(255, 'n'), protocol(255, 'p'), comment(255, 'c');
  char line[1024];
  ASSERT_EQ(
      buildEntryLine(line, sizeof line, columns,
                     {name.c_str(), -2147483647 - 1, protocol.c_str(), comment.c_str(), "\r\n"}),
      1);
  EXPECT_EQ(std::string(line), name + " -2147483648/" + protocol + " #" + comment + "\r\n");

  // Columns that fit with short values are kept.
  ASSERT_EQ(buildEntryLine(line, sizeof line, columns, {"a", 1, "b", "", "\n"}), 1);
  EXPECT_EQ(std::string(line), std::string(600, ' ') + "a" + std::string(298, ' ') + "1/b\n");
}

TEST(BuildEntryLineLimits, LineThatNeverFitsIsNotBuilt) {
  EntryColumns columns;
  resetEntryColumns(&columns);
  const std::string name(1100, 'n');
  char line[1024];
  EXPECT_EQ(buildEntryLine(line, sizeof line, columns, {name.c_str(), 1, "tcp", "", "\n"}), 0);
  EXPECT_STREQ(line, "");
}

}  // namespace
}  // namespace volsten
