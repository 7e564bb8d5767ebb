// Code translation files and the registry they load into, over real files.
#include "config/code_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/str.h"
#include "tests/utils/files.h"

namespace volsten {
namespace {

using Entries = std::map<int, int>;  // the entries that are not 0

Entries entriesOf(const uint8_t (&table)[256]) {
  Entries entries;
  for (int i = 0; i < 256; ++i) {
    if (table[i] != 0) entries[i] = table[i];
  }
  return entries;
}

class CodeTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    codeTableSeamClear();
  }
  void TearDown() override { codeTableSeamClear(); }
  std::string write(const std::string& name, const std::string& text) {
    std::string path = dir_.path(name);
    EXPECT_TRUE(testing::writeFile(path, text));
    return path;
  }

  testing::TempDir dir_;
};

struct FileCase {
  const char* name;
  std::string text;
  Entries outbound;
  Entries inbound;
  friend void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }
};

class CodeTableFileTest : public CodeTableTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(CodeTableFileTest, FillsExactlyTheEntriesTheFileNames) {
  const CodeTable* table = getCodeTable(write("table.txt", GetParam().text).c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(entriesOf(table->outbound), GetParam().outbound);
  EXPECT_EQ(entriesOf(table->inbound), GetParam().inbound);
}

// Without a separator the inbound table is the inverse of the outbound one,
// and its entry 0 holds the highest unmapped byte, 255 here.
INSTANTIATE_TEST_SUITE_P(
    Files, CodeTableFileTest,
    ::testing::Values(
        FileCase{"Decimal", "65:66\n", {{65, 66}}, {{0, 255}, {66, 65}}},
        FileCase{"Hexadecimal", "4A:4B\n", {{0x4A, 0x4B}}, {{0, 255}, {0x4B, 0x4A}}},
        FileCase{"HexadecimalWithPrefix", "0x41:0x42\n", {{0x41, 0x42}}, {{0, 255}, {0x42, 0x41}}},
        FileCase{"DecimalWinsOverHexadecimal", "65:6A\n", {{65, 6}}, {{0, 255}, {6, 65}}},
        // "10:1F" converts as decimal 10:1; only "1F:10" falls to hexadecimal.
        FileCase{"DecimalFirstThenHexadecimal",
                 "10:1F 1F:10\n",
                 {{10, 1}, {0x1F, 0x10}},
                 {{0, 255}, {1, 10}, {0x10, 0x1F}}},
        FileCase{"CommentsEndTheLine",
                 "65:66 67:68 ; comment 69:70\nword 71:72\n  \t\n",
                 {{65, 66}, {67, 68}},
                 {{0, 255}, {66, 65}, {68, 67}}},
        FileCase{"ATokenIsMatchedAlone", "65: 66\n", {}, {{0, 255}}},
        FileCase{"HighestByteWinsTheInverse",
                 "65:70 66:70 255:1\n",
                 {{65, 70}, {66, 70}, {255, 1}},
                 {{0, 254}, {1, 255}, {70, 66}}},
        FileCase{"LaterPairsOverwriteAndZeroUntranslates",
                 "65:66 67:68\n65:67 67:0\n",
                 {{65, 67}},
                 {{0, 255}, {67, 65}}},
        FileCase{"NumbersThatNameNoByteAreDropped",
                 "256:65 -1:66 65:322\n",
                 {{65, 66}},
                 {{0, 255}, {66, 65}}},
        FileCase{"SeparatorStartsTheInboundPart",
                 "65:66 /end 67:68\n69:70 / 71:72\n",
                 {{65, 66}},
                 {{69, 70}}},
        FileCase{"CommentBeginningWithSlashSeparates",
                 "65:66\n// inbound follows\n67:68\n",
                 {{65, 66}},
                 {{67, 68}}},
        FileCase{"EmptyInboundPart", "/\n", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CodeTableTest, ALineLongerThanAPieceIsReadAsSeveralLines) {
  // The first 511-character piece ends in "65:6"; the second begins with
  // the token "6", which is no pair and ends that line.
  std::string text = std::string(507, ' ') + "65:66 67:68\n69:70\n";
  const CodeTable* table = getCodeTable(write("long.txt", text).c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(entriesOf(table->outbound), (Entries{{65, 6}, {69, 70}}));
}

TEST_F(CodeTableTest, ALoadedNameIsServedWithoutReadingTheFileAgain) {
  std::string path = write("a.txt", "65:66\n");
  const CodeTable* table = getCodeTable(path.c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_STREQ(table->name, path.c_str());
  write("a.txt", "65:67\n");
  EXPECT_EQ(getCodeTable(path.c_str()), table);
  EXPECT_EQ(getCodeTable((path + "  ").c_str()), table);  // trailing blanks do not count
  EXPECT_EQ(table->outbound[65], 66);
}

TEST_F(CodeTableTest, AFileThatCannotBeReadIsTriedAgainNextTime) {
  std::string path = dir_.path("later.txt");
  EXPECT_EQ(getCodeTable(path.c_str()), nullptr);
  write("later.txt", "65:66\n");
  const CodeTable* table = getCodeTable(path.c_str());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->outbound[65], 66);
}

TEST_F(CodeTableTest, TheRegistryHoldsTenTables) {
  std::vector<const CodeTable*> loaded;
  for (int i = 0; i < kCodeTableCount; ++i) {
    loaded.push_back(getCodeTable(write("t" + std::to_string(i), "65:66\n").c_str()));
    ASSERT_NE(loaded.back(), nullptr) << i;
  }
  EXPECT_EQ(getCodeTable(write("eleventh", "65:66\n").c_str()), nullptr);
  EXPECT_EQ(getCodeTable(dir_.path("t3").c_str()), loaded[3]);
}

TEST_F(CodeTableTest, NamesThatAreEmptyOrTooLongLoadNothing) {
  EXPECT_EQ(getCodeTable(nullptr), nullptr);
  EXPECT_EQ(getCodeTable("   "), nullptr);
  EXPECT_EQ(loadCodeTable(nullptr), nullptr);
  // A name of 512 characters is refused, never cut to the 511 that name
  // another file. (Windows cannot open such long paths at all.)
  std::string fits = dir_.path("");
  while (fits.size() + 201 < 511) {
    fits += std::string(200, 'd') + "/";
    std::error_code error;
    std::filesystem::create_directory(fits, error);
  }
  fits += std::string(511 - fits.size(), 'n');
  testing::writeFile(fits, "65:66\n");
  EXPECT_EQ(getCodeTable((fits + "x").c_str()), nullptr);
  if (std::FILE* file = std::fopen(fits.c_str(), "r")) {
    std::fclose(file);
    EXPECT_NE(getCodeTable(fits.c_str()), nullptr);
  }
}

TEST_F(CodeTableTest, ThreadsAskingForOneNameShareOneTable) {
  std::string path = write("shared.txt", "65:66\n");
  std::atomic<const CodeTable*> seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& slot : seen) {
    threads.emplace_back([&path, to = &slot] { *to = getCodeTable(path.c_str()); });
  }
  for (auto& t : threads) t.join();
  ASSERT_NE(seen[0].load(), nullptr);
  for (auto& slot : seen) EXPECT_EQ(slot.load(), seen[0].load());
  // Only one entry was used: nine more still fit.
  for (int i = 0; i < kCodeTableCount - 1; ++i) {
    EXPECT_NE(getCodeTable(write("more" + std::to_string(i), "1:2\n").c_str()), nullptr);
  }
}

// --- Translation ------------------------------------------------------------

CodeTable tableFor(std::initializer_list<std::pair<int, int>> inbound) {
  CodeTable table{};
  for (auto [from, to] : inbound) table.inbound[from] = static_cast<uint8_t>(to);
  return table;
}

TEST(TranslateTest, AnEntryOfZeroOrNoTableLeavesTheByte) {
  CodeTable table = tableFor({{0x41, 0x61}});
  EXPECT_EQ(translateInboundByte(&table, 0x41), 0x61);
  EXPECT_EQ(translateInboundByte(&table, 0x42), 0x42);
  EXPECT_EQ(translateInboundByte(nullptr, 0x41), 0x41);
  table.outbound['x'] = 'y';
  char out[4];
  translateOutbound(&table, "xzx", 3, out);
  EXPECT_EQ(std::string(out, 3), "yzy");
  translateOutbound(nullptr, "xzx", 3, out);
  EXPECT_EQ(std::string(out, 3), "xzx");
}

struct TextCase {
  const char* name;
  bool withTable;
  std::string text;
  int32_t length;
  int32_t size;
  std::string stored;  // the buffer's bytes up to the first '#', the fill
  int32_t count;
  friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
};

class TranslateTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TranslateTextTest, StoresAndCounts) {
  const TextCase& c = GetParam();
  CodeTable table = tableFor({{'a', 'A'}, {' ', '_'}});
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  int32_t count = translateInboundText(c.withTable ? &table : nullptr, c.text.c_str(), c.length,
                                       buffer, c.size);
  EXPECT_EQ(count, c.count);
  EXPECT_EQ(std::string(buffer, std::find(buffer, buffer + sizeof buffer, '#')), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TranslateTextTest,
    ::testing::Values(
        // Trailing blanks go; blanks inside are translated like any byte.
        TextCase{"TableDropsTrailingBlanks", true, "a a  ", NTS, 16, std::string("A_A\0", 4), 3},
        TextCase{"TableCutsToTheRoom", true, "aaaaa", NTS, 3, std::string("AA\0", 3), 2},
        TextCase{"TableWithLengthWritesOnlyBytes", true, "aaaaa", 2, 16, "AA", 2},
        TextCase{"TableOnAnEmptyText", true, "   ", NTS, 16, std::string("\0", 1), 0},
        TextCase{"NoTableCopiesAndCountsTrimmed", false, "ab  ", NTS, 16, std::string("ab  \0", 5),
                 2},
        TextCase{"NoRoom", true, "abc", NTS, 0, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TranslateTest, InPlaceTranslationOfALine) {
  CodeTable table = tableFor({{'a', 'A'}});
  char line[16] = "banana \n";
  EXPECT_EQ(translateInboundText(&table, line, NTS, line, sizeof line), 8);
  EXPECT_STREQ(line, "bAnAnA \n");
  char last[16] = "banana  ";
  EXPECT_EQ(translateInboundText(&table, last, NTS, last, sizeof last), 6);
  EXPECT_STREQ(last, "bAnAnA");
  char untouched[4] = {'a', 'b', ' ', ' '};
  EXPECT_EQ(translateInboundText(nullptr, untouched, 4, untouched, 4), 2);
}

}  // namespace
}  // namespace volsten
