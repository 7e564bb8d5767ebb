#include "utils/services_file.h"

#include <gtest/gtest.h>

#include <string>

#include "sys/directories.h"
#include "sys/fault.h"
#include "tests/support/fault_guard.h"
#include "tests/utils/files.h"

namespace volsten {
namespace {

using testing::readFile;
using testing::writeFile;

// What a "\n" written in text mode becomes in the file.
std::string textNewline() { return sysOsFamily() == SysFamily::Posix ? "\n" : "\r\n"; }

using testing::placed;

// The worked example: four entries at column 0 with '/' at 24, two of them
// with '#' at 40, and one at column 2 with '/' at 12.
const std::string kExample =
    "# services of the example\n" + placed({{0, "alpha"}, {23, "1/tcp\n"}}) +
    placed({{0, "beta"}, {23, "2/tcp"}, {40, "# two\n"}}) +
    placed({{0, "gamma"}, {23, "3/udp"}, {40, "# three\n"}}) +
    placed({{0, "delta"}, {23, "4/udp\n"}}) + placed({{2, "eps"}, {11, "5/tcp\n"}});

class RegisterServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.ok()); }
  std::string path() const { return dir_.path("services"); }
  // Writes the file, registers, and returns the file's new bytes.
  std::string registerIn(const std::string& before, const char* name, int32_t port,
                         const char* protocol, const char* comment) {
    EXPECT_TRUE(writeFile(path(), before));
    EXPECT_EQ(registerService(path().c_str(), name, port, protocol, comment), 0);
    return readFile(path());
  }
  testing::TempDir dir_;
  testing::FaultGuard faults_;
};

TEST_F(RegisterServiceTest, WorkedExampleAppendsAtLearnedColumns) {
  EXPECT_EQ(
      registerIn(kExample, "myservice", 5000, "tcp", "My Service"),
      kExample + placed({{0, "myservice"}, {20, "5000/tcp"}, {40, "#My Service"}}) + textNewline());
}

TEST_F(RegisterServiceTest, SecondIdenticalRunAddsNothing) {
  std::string once = registerIn(kExample, "myservice", 5000, "tcp", "My Service");
  EXPECT_EQ(registerService(path().c_str(), "myservice", 5000, "tcp", "My Service"), 0);
  EXPECT_EQ(readFile(path()), once);
}

TEST_F(RegisterServiceTest, EmptyFileGetsDefaultColumns) {
  EXPECT_EQ(registerIn("", "myservice", 5000, "tcp", "My Service"),
            placed({{0, "myservice"}, {17, "5000/tcp"}, {52, "#My Service"}}) + textNewline());
}

struct UnchangedCase {
  const char* label;
  const char* before;
  const char* name;
  const char* protocol;
};

class ExistingEntryTest : public RegisterServiceTest,
                          public ::testing::WithParamInterface<UnchangedCase> {};

TEST_P(ExistingEntryTest, LeavesFileUntouched) {
  const UnchangedCase& c = GetParam();
  EXPECT_EQ(registerIn(c.before, c.name, 9, c.protocol, "new"), c.before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExistingEntryTest,
    ::testing::Values(UnchangedCase{"UpperCaseWithComment", "# x\n   FOO   80/TCP   # old\n", "foo",
                                    "tcp"},
                      UnchangedCase{"OtherPort", "foo 1234/tcp\n", "foo", "tcp"},
                      UnchangedCase{"LastLineWithoutNewline", "a 1/tcp\nfoo 80/tcp", "foo", "tcp"},
                      UnchangedCase{"CrLf", "a 1/tcp\r\nfoo 80/tcp\r\n", "foo", "tcp"}),
    [](const ::testing::TestParamInfo<UnchangedCase>& info) {
      return std::string(info.param.label);
    });

TEST_F(RegisterServiceTest, SameNameOtherProtocolIsAdded) {
  std::string before = "foo 80/tcp\n";
  EXPECT_EQ(registerIn(before, "foo", 80, "udp", ""), before + "foo 80/udp" + textNewline());
}

TEST_F(RegisterServiceTest, LastLineWithoutNewlineIsEnded) {
  // Longer lines and a line of one character alike.
  for (std::string last : {"a 1/tcp", "x"}) {
    std::string after = registerIn("b 2/tcp\n" + last, "foo", 3, "tcp", "");
    EXPECT_EQ(after, "b 2/tcp\n" + last + textNewline() + "foo 3/tcp" + textNewline()) << last;
  }
}

TEST_F(RegisterServiceTest, CrLfFileStaysCrLf) {
  std::string before = "# x\r\n" + placed({{0, "alpha"}, {23, "1/tcp\r\n"}}) +
                       placed({{0, "beta"}, {23, "2/tcp\r\n"}});
  EXPECT_EQ(registerIn(before, "foo", 80, "tcp", "c"),
            before + placed({{0, "foo"}, {22, "80/tcp"}, {52, "#c\r\n"}}));
}

TEST_F(RegisterServiceTest, CrLfFileWithoutFinalLineEndGetsCrLf) {
  std::string before = placed({{0, "alpha"}, {23, "1/tcp\r\nx"}});
  EXPECT_EQ(registerIn(before, "foo", 80, "tcp", ""),
            before + "\r\n" + placed({{0, "foo"}, {22, "80/tcp\r\n"}}));
}

TEST_F(RegisterServiceTest, LinesLongerThanTheBufferAreReadInPieces) {
  // The entry stands after 1023 characters: the piece read after them starts
  // mid-line and counts as a line of its own.
  std::string before = std::string(1023, 'x') + " foo 80/tcp\n";
  EXPECT_EQ(registerIn(before, "foo", 80, "tcp", ""), before);
}

TEST_F(RegisterServiceTest, MissingFileIsNotCreated) {
  EXPECT_EQ(registerService(path().c_str(), "foo", 80, "tcp", ""), 0);
  EXPECT_EQ(readFile(path()), "<missing>");
  EXPECT_EQ(registerService(nullptr, "foo", 80, "tcp", ""), 0);
  EXPECT_EQ(registerService("", "foo", 80, "tcp", ""), 0);
}

TEST_F(RegisterServiceTest, FileThatCannotBeLockedIsLeftAlone) {
  faultArm(FaultPoint::FileLock, 0);
  EXPECT_EQ(registerIn(kExample, "foo", 80, "tcp", ""), kExample);
}

TEST_F(RegisterServiceTest, WriteCutShortLeavesNoPartOfTheEntry) {
  // The line end that ends the last line goes too.
  faultArm(FaultPoint::StreamWrite, 0);
  EXPECT_EQ(registerIn("a 1/tcp\nlast", "foo", 80, "tcp", "a comment"), "a 1/tcp\nlast");
}

TEST_F(RegisterServiceTest, EntryTooLongForTheLineIsNeverWrittenCut) {
  std::string name(1100, 'n');
  EXPECT_EQ(registerIn(kExample, name.c_str(), 80, "tcp", ""), kExample);
}

}  // namespace
}  // namespace volsten
