// The profile reader over files the tests write into their own Windows
// directory.
#include "config/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/config/profile_dir.h"

namespace volsten {
namespace {

const char* const kProfile =
    "; a comment line\n"
    "[ Server ]\n"
    "Connect = wrong\n"
    "[Server] text after the bracket\n"
    "Connect = 'a;b' ; note\n"
    "Plain = a;b\n"
    "Doubled = \"say \"\"hi\"\" now\"\n"
    "Blanks = \"padded   \"  after\n"
    "#Key=1\n"
    "  Indented  =  value  \n"
    "NoValue\n"
    "NoValue2 ; comment = x\n"
    "Open = \"unclosed value  \n"
    "Long = 0123456789\n"
    "Empty =\n"
    "=skipped\n"
    "[Server]\n"
    "Second = never reached\n"
    "[Other]\n"
    "Connect = other\n";

struct ValueCase {
  const char* section;
  const char* key;
  int32_t size;
  std::string value;
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.section << "/" << c.key; }
};

class ProfileValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ProfileValueTest, FindsTheFirstKeyOfTheFirstSectionOfThatName) {
  testing::ProfileDir dir;
  dir.writeProfile(kProfile);
  const ValueCase& c = GetParam();
  char buffer[64];
  int32_t length = getProfileString(c.section, c.key, "default  ", buffer, c.size, kProfileName);
  EXPECT_EQ(std::string(buffer), c.value);
  EXPECT_EQ(length, static_cast<int32_t>(c.value.find_last_not_of(' ') + 1));
}

INSTANTIATE_TEST_SUITE_P(Lookups, ProfileValueTest,
                         ::testing::Values(ValueCase{"Server", "Connect", 64, "a;b"},
                                           ValueCase{" Server ", "Connect", 64, "wrong"},
                                           ValueCase{"Server", "Plain", 64, "a"},
                                           ValueCase{"Server", "Doubled", 64, "say \"hi\" now"},
                                           ValueCase{"Server", "Blanks", 64, "padded"},
                                           ValueCase{"Server", "#Key", 64, "1"},
                                           ValueCase{"Server", "Indented", 64, "value"},
                                           ValueCase{"Server", "Open", 64, "unclosed value"},
                                           ValueCase{"Server", "Long", 5, "0123"},
                                           ValueCase{"Server", "Empty", 64, ""},
                                           ValueCase{"Server", "NoValue", 64, "default  "},
                                           ValueCase{"Server", "NoValue2", 64, "default  "},
                                           ValueCase{"Server", "Second", 64, "default  "},
                                           ValueCase{"server", "Connect", 64, "default  "},
                                           ValueCase{"Missing", "Connect", 64, "default  "},
                                           ValueCase{"Other", "Connect", 64, "other"}));

struct ListCase {
  const char* name;
  const char* section;  // "" lists the sections
  int32_t size;
  std::string bytes;  // the list, its last NUL included
  friend void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }
};

class ProfileListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ProfileListTest, ListsNamesInFileOrderInsideTheBuffer) {
  testing::ProfileDir dir;
  dir.writeProfile("[A]\nk1=1\nk2\n; c\nk1=2\n[B]\n[A]\nk3=3\n");
  const ListCase& c = GetParam();
  std::string buffer(static_cast<size_t>(c.size) + 4, '#');
  int32_t length = getProfileString(c.section, "", "", buffer.data(), c.size, kProfileName);
  EXPECT_EQ(buffer.substr(0, c.bytes.size()), c.bytes);
  EXPECT_EQ(buffer.substr(static_cast<size_t>(c.size)), "####");  // nothing past the buffer
  EXPECT_EQ(length, c.bytes.size() <= 1 ? 0 : static_cast<int32_t>(c.bytes.size()) - 2);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ProfileListTest,
    ::testing::Values(ListCase{"Sections", "", 20, std::string("A\0B\0A\0\0", 7)},
                      ListCase{"SectionsFillingTheBuffer", "", 7, std::string("A\0B\0A\0\0", 7)},
                      ListCase{"SectionsBeyondTheRoom", "", 5, std::string("A\0B\0\0", 5)},
                      ListCase{"KeysWithDuplicates", "A", 20, std::string("k1\0k2\0k1\0\0", 10)},
                      ListCase{"KeysCutToTheRoom", "A", 6, std::string("k1\0k\0\0", 6)},
                      ListCase{"NoKeys", "B", 20, std::string("\0", 1)},
                      ListCase{"MissingSection", "C", 20, std::string("\0", 1)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileTest, WithoutAFileEveryLookupGivesTheDefault) {
  testing::ProfileDir dir;
  char buffer[16];
  EXPECT_EQ(getProfileString("Server", "Connect", "none ", buffer, sizeof buffer, kProfileName), 4);
  EXPECT_STREQ(buffer, "none ");
  EXPECT_EQ(getProfileString("", "", "none", buffer, sizeof buffer, kProfileName), 4);
  EXPECT_STREQ(buffer, "none");
  EXPECT_EQ(getProfileString("Server", "Connect", "none", nullptr, 16, kProfileName), 0);
}

TEST(ProfileTest, ALineLongerThanOneReadContinuesAsALineOfItsOwn) {
  testing::ProfileDir dir;
  // One read takes 253 characters: "Pad=" and 249 p; "K=cont" follows.
  dir.writeProfile("[S]\nPad=" + std::string(249, 'p') + "K=cont\n");
  char buffer[300];
  EXPECT_EQ(getProfileString("S", "Pad", "", buffer, sizeof buffer, kProfileName), 249);
  EXPECT_EQ(getProfileString("S", "K", "", buffer, sizeof buffer, kProfileName), 4);
  EXPECT_STREQ(buffer, "cont");
}

TEST(ProfileTest, AFileNameWithAPathIsOpenedThere) {
  testing::ProfileDir dir;
  std::string path = dir.write("other.ini", "[S]\nK=here\n");
  char buffer[16];
  EXPECT_EQ(getProfileString("S", "K", "", buffer, sizeof buffer, path.c_str()), 4);
  EXPECT_STREQ(buffer, "here");
}

}  // namespace
}  // namespace volsten
