#include "utils/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/str.h"

namespace volsten {
namespace {

struct ParseCase {
  const char* label;
  std::vector<const char*> args;  // without the program name
  int result;
  int32_t service;
  const char* name;
  const char* portText;
  const char* protocol;
  const char* comment;
};

class ParseOptionsTest : public ::testing::TestWithParam<ParseCase> {
 protected:
  void SetUp() override { serviceOptions() = ServiceOptions{}; }
  void TearDown() override { serviceOptions() = ServiceOptions{}; }
};

TEST_P(ParseOptionsTest, StoresNormalisedValuesAndStopsAtBadArgument) {
  const ParseCase& c = GetParam();
  std::vector<const char*> argv{"regservice"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  // The vector's end is not null-terminated on purpose: the parser must stay
  // within argc.
  EXPECT_EQ(parseOptions(static_cast<int>(argv.size()), argv.data()), c.result);
  const ServiceOptions& o = serviceOptions();
  EXPECT_EQ(o.service, c.service);
  EXPECT_STREQ(o.name, c.name);
  EXPECT_STREQ(o.portText, c.portText);
  EXPECT_STREQ(o.protocol, c.protocol);
  EXPECT_STREQ(o.comment, c.comment);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseOptionsTest,
    ::testing::Values(
        ParseCase{"Empty", {}, 1, 0, "", "", "", ""},
        ParseCase{"Full",
                  {"-service", "-name", "Foo", "-port", "80", "-protocol", "TCP", "-comment",
                   "Mixed Case"},
                  1,
                  1,
                  "foo",
                  "80",
                  "tcp",
                  "Mixed Case"},
        ParseCase{"WithoutServiceFlag", {"-name", "foo", "-port", "80"}, 1, 0, "foo", "80", "", ""},
        ParseCase{"LaterValueWins", {"-name", "a", "-name", "B"}, 1, 0, "b", "", "", ""},
        ParseCase{"ValueBeginsWithMinus", {"-service", "-name", "-x"}, 0, 1, "", "", "", ""},
        ParseCase{
            "ValuesBeforeBadArgumentStay", {"-name", "a", "-port", "-1"}, 0, 0, "a", "", "", ""},
        ParseCase{"StrayWord", {"-service", "stray"}, 0, 1, "", "", "", ""},
        ParseCase{"OptionWordsAreCaseSensitive", {"-Service"}, 0, 0, "", "", "", ""},
        ParseCase{"ValueOptionLastHasNoValue",
                  {"-service", "-name", "a", "-port"},
                  0,
                  1,
                  "a",
                  "",
                  "",
                  ""},
        ParseCase{"CommentLast", {"-comment"}, 0, 0, "", "", "", ""},
        ParseCase{"EmptyValueIsAccepted", {"-name", ""}, 1, 0, "", "", "", ""},
        ParseCase{"QuotedValue",
                  {"-name", "\"Quoted Name\"", "-comment", "\""},
                  1,
                  0,
                  "quoted name",
                  "",
                  "",
                  ""},
        ParseCase{"TrailingBlanksDropped",
                  {"-protocol", "UDP  ", "-comment", "Hi  "},
                  1,
                  0,
                  "",
                  "",
                  "udp",
                  "Hi"},
        ParseCase{"ValueIsConsumed", {"-comment", "-service"}, 0, 0, "", "", "", ""},
        ParseCase{"ValueThatLooksLikeOption",
                  {"-comment", "service", "-service"},
                  1,
                  1,
                  "",
                  "",
                  "",
                  "service"}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

TEST(ParseOptionsLimits, LongValueIsCutTo255Characters) {
  serviceOptions() = ServiceOptions{};
  std::string longName(300, 'N');
  const char* argv[] = {"regservice", "-name", longName.c_str()};
  EXPECT_EQ(parseOptions(3, argv), 1);
  EXPECT_EQ(std::string(serviceOptions().name), std::string(255, 'n'));
  serviceOptions() = ServiceOptions{};
}

struct NormaliseCase {
  const char* value;
  int32_t length;
  int32_t destSize;
  const char* stored;
};

class NormaliseValueTest : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(NormaliseValueTest, TrimsUnquotesAndCuts) {
  const NormaliseCase& c = GetParam();
  char dest[256];
  std::memset(dest, 'x', sizeof dest);
  normaliseValue(dest, c.destSize, c.value, c.length);
  EXPECT_STREQ(dest, c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NormaliseValueTest,
    ::testing::Values(
        NormaliseCase{"abc", NTS, 256, "abc"}, NormaliseCase{"abc  ", NTS, 256, "abc"},
        NormaliseCase{"\"abc\"", NTS, 256, "abc"}, NormaliseCase{"\"abc", NTS, 256, "abc"},
        NormaliseCase{"abc\"", NTS, 256, "abc"}, NormaliseCase{"\"", NTS, 256, ""},
        NormaliseCase{"\"\"", NTS, 256, ""}, NormaliseCase{"\"a b \"", NTS, 256, "a b "},
        NormaliseCase{"  lead", NTS, 256, "  lead"}, NormaliseCase{"", NTS, 256, ""},
        NormaliseCase{nullptr, NTS, 256, ""}, NormaliseCase{"abcdef", 3, 256, "abc"},
        NormaliseCase{"abcdef", NTS, 4, "abc"}));

struct LowerCase {
  const char* text;
  int32_t length;
  int result;
  const char* after;
};

class LowerCaseValueTest : public ::testing::TestWithParam<LowerCase> {};

TEST_P(LowerCaseValueTest, LowersOnlyTheTrimmedAsciiLetters) {
  const LowerCase& c = GetParam();
  char text[64];
  std::strcpy(text, c.text);
  EXPECT_EQ(lowerCaseValue(text, c.length), c.result);
  EXPECT_STREQ(text, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LowerCaseValueTest,
    ::testing::Values(LowerCase{"ABC", NTS, 3, "abc"}, LowerCase{"MiXeD 1-Z", NTS, 9, "mixed 1-z"},
                      LowerCase{"AB  ", NTS, 2, "ab  "}, LowerCase{"ABCD", 2, 2, "abCD"},
                      LowerCase{"\xc4\xd6X", NTS, 3, "\xc4\xd6x"}, LowerCase{"   ", NTS, 0, "   "},
                      LowerCase{"ABC", 0, 0, "ABC"}));

struct PortCase {
  const char* text;
  int32_t port;
};

class PortFromTextTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortFromTextTest, ReadsLikeStrtolAndSaturates) {
  EXPECT_EQ(portFromText(GetParam().text), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Texts, PortFromTextTest,
                         ::testing::Values(PortCase{"80", 80}, PortCase{"80abc", 80},
                                           PortCase{"abc", 0}, PortCase{"", 0},
                                           PortCase{"  +42", 42}, PortCase{"-7", -7},
                                           PortCase{"99999999999", INT32_MAX},
                                           PortCase{"-99999999999", INT32_MIN},
                                           PortCase{nullptr, 0}));

}  // namespace
}  // namespace volsten
