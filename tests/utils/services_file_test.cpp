#include "utils/services_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "sys/directories.h"
#include "sys/fault.h"
#include "tests/support/fault_guard.h"
#include "tests/utils/files.h"
#include "tests/utils/lock_holder.h"

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

struct FailedStep {
  const char* label;
  FaultPoint fault;
};

class FailedStepTest : public RegisterServiceTest,
                       public ::testing::WithParamInterface<FailedStep> {};

// A lock refused, a write cut short (a full disk), a sync or a close that
// fails: the file keeps its bytes, the line end written for an unended last
// line included.
TEST_P(FailedStepTest, LeavesNoPartOfTheEntry) {
  faultArm(GetParam().fault, 0);
  EXPECT_EQ(registerIn("a 1/tcp\nlast", "foo", 80, "tcp", "a comment"), "a 1/tcp\nlast");
}

INSTANTIATE_TEST_SUITE_P(Faults, FailedStepTest,
                         ::testing::Values(FailedStep{"Lock", FaultPoint::FileLock},
                                           FailedStep{"Write", FaultPoint::StreamWrite},
                                           FailedStep{"Sync", FaultPoint::StreamSync},
                                           FailedStep{"Close", FaultPoint::StreamClose}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegisterServiceTest, FileSystemWithoutLocksIsUpdatedWithoutOne) {
  faultArm(FaultPoint::FileLockMissing, 0);
  EXPECT_EQ(registerIn("a 1/tcp\n", "foo", 80, "tcp", ""), "a 1/tcp\nfoo 80/tcp" + textNewline());
}

TEST_F(RegisterServiceTest, LockHeldPastTheWaitLeavesTheFileAlone) {
  ASSERT_TRUE(writeFile(path(), kExample));
  testing::LockHolder holder(path());
  ASSERT_TRUE(holder.locked());
  EXPECT_EQ(registerServiceWaiting(50, path().c_str(), "foo", 80, "tcp", ""), 0);
  EXPECT_EQ(readFile(path()), kExample);
}

TEST_F(RegisterServiceTest, LockReleasedWithinTheWaitLetsTheEntryIn) {
  ASSERT_TRUE(writeFile(path(), "a 1/tcp\n"));
  testing::LockHolder holder(path());
  ASSERT_TRUE(holder.locked());
  std::thread releaser([&holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    holder.release();
  });
  EXPECT_EQ(registerServiceWaiting(20000, path().c_str(), "foo", 80, "tcp", ""), 0);
  releaser.join();
  EXPECT_EQ(readFile(path()), "a 1/tcp\nfoo 80/tcp" + textNewline());
}

struct ForgedFields {
  const char* label;
  const char* name;
  const char* protocol;
  const char* comment;
};

class ForgedFieldsTest : public RegisterServiceTest,
                         public ::testing::WithParamInterface<ForgedFields> {};

// Fields that would not read back as one entry for exactly this service.
TEST_P(ForgedFieldsTest, WriteNothing) {
  const ForgedFields& f = GetParam();
  EXPECT_EQ(registerIn(kExample, f.name, 80, f.protocol, f.comment), kExample);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ForgedFieldsTest,
    ::testing::Values(ForgedFields{"CommentWithLineFeed", "foo", "tcp", "x\nevil 666/tcp"},
                      ForgedFields{"CommentWithReturn", "foo", "tcp", "x\revil 666/tcp"},
                      ForgedFields{"NameWithLineFeed", "foo\nevil", "tcp", ""},
                      ForgedFields{"NameWithBlank", "foo evil", "tcp", ""},
                      ForgedFields{"NameWithTab", "foo\t", "tcp", ""},
                      ForgedFields{"NameWithHash", "foo#x", "tcp", ""},
                      ForgedFields{"ProtocolWithBlank", "foo", "tcp 666/udp", ""},
                      ForgedFields{"ProtocolWithHash", "foo", "tcp#", ""},
                      ForgedFields{"ProtocolWithReturn", "foo", "tcp\r", ""}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegisterServiceTest, CommentMayHoldBlanksAndHashes) {
  EXPECT_EQ(registerIn("", "foo", 80, "tcp", "a # b"),
            placed({{0, "foo"}, {19, "80/tcp"}, {52, "#a # b"}}) + textNewline());
}

struct FileEndCase {
  const char* label;
  std::string before;
  std::string separator;  // what ends the last line before the entry
  std::string newline;    // what ends the entry
};

class FileEndTest : public RegisterServiceTest,
                    public ::testing::WithParamInterface<FileEndCase> {};

TEST_P(FileEndTest, EntryStartsOnALineOfItsOwnWithTheFilesLineEnd) {
  const FileEndCase& c = GetParam();
  // The entries' slash at column 3 leaves one blank between name and port.
  EXPECT_EQ(registerIn(c.before, "foo", 80, "tcp", ""),
            c.before + c.separator + "foo 80/tcp" + c.newline);
}

// The CR LF that ends the file, split between two 1023-byte pieces; a CR
// with nothing after it (a CR LF cut off: on POSIX only its LF is added; on
// Windows text mode writes the LF as CR LF); a last piece that begins with a
// NUL byte.
INSTANTIATE_TEST_SUITE_P(
    Files, FileEndTest,
    ::testing::Values(FileEndCase{"CrLfSplitBetweenPieces",
                                  "b 2/tcp" + std::string(1015, ' ') + "\r\n", "", "\r\n"},
                      FileEndCase{"BareReturnAtTheEnd", "a 1/tcp\r\nb 2/tcp\r", textNewline(),
                                  "\r\n"},
                      FileEndCase{"LastPieceStartsWithNul", std::string("a 1/tcp\n\0junk", 13),
                                  textNewline(), textNewline()}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegisterServiceTest, EntryTooLongForTheLineIsNeverWrittenCut) {
  std::string name(1100, 'n');
  EXPECT_EQ(registerIn(kExample, name.c_str(), 80, "tcp", ""), kExample);
}

}  // namespace
}  // namespace volsten
