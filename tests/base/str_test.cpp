#include "base/str.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/heap.h"
#include "base/messages.h"
#include "tests/support/diag_reader.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using testing::recordsOf;
using testing::SeenRecord;

const SeenRecord kTruncated{1, "01004", 1, "Daten wurden abgeschnitten "};

struct LengthCase {
  const char* text;
  int32_t length;
  int32_t raw, trimmed, data;
};

class StrLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(StrLengthTest, RawTrimmedAndDataLengths) {
  const LengthCase& c = GetParam();
  EXPECT_EQ(strLength(c.text, c.length), c.raw);
  EXPECT_EQ(strTrimmedLength(c.text, c.length), c.trimmed);
  EXPECT_EQ(strDataLength(c.text, c.length), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, StrLengthTest,
    ::testing::Values(LengthCase{"abc", -1, 0, 0, 0}, LengthCase{"abc", -2, 0, 0, 0},
                      LengthCase{"abc", -4, 0, 0, 0}, LengthCase{"abc", 0, 0, 0, 0},
                      LengthCase{nullptr, 5, 0, 0, 0}, LengthCase{nullptr, NTS, 0, 0, 0},
                      LengthCase{"ab  ", NTS, 4, 2, 4}, LengthCase{"ab\t", NTS, 3, 3, 3},
                      LengthCase{"ab\0\0", 4, 4, 2, 2}, LengthCase{"a \0 \0", 5, 5, 1, 4},
                      LengthCase{"  x", NTS, 3, 3, 3}, LengthCase{"abcdef", 3, 3, 3, 3}));

class StrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    diag_ = diagCreate(nullptr);
    ASSERT_NE(diag_, nullptr);
  }
  void TearDown() override { diagFree(diag_); }
  testing::FaultGuard faults_;
  DiagContext* diag_ = nullptr;
};

struct CopyCase {
  const char* name;
  bool nullDest;
  int32_t destSize;
  const char* text;
  int32_t length;
  Status status;
  const char* stored;  // null: dest is not looked at
  bool truncated;
};

class StrCopyTest : public StrTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(StrCopyTest, CopiesOrCutsAndReports) {
  const CopyCase& c = GetParam();
  char dest[32];
  std::memset(dest, 'Z', sizeof dest);
  Status s = strCopy(diag_, c.nullDest ? nullptr : dest, c.destSize, c.text, c.length);
  EXPECT_EQ(s, c.status);
  if (c.stored != nullptr) {
    EXPECT_STREQ(dest, c.stored);
    // Nothing is written at or past destSize.
    for (int i = c.destSize; i < static_cast<int>(sizeof dest); ++i) ASSERT_EQ(dest[i], 'Z') << i;
  }
  EXPECT_EQ(recordsOf(diag_), c.truncated ? std::vector<SeenRecord>{kTruncated} : std::vector<SeenRecord>{});
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StrCopyTest,
    ::testing::Values(
        CopyCase{"fits", false, 11, "0123456789", NTS, 0, "0123456789", false},
        CopyCase{"oneShort", false, 10, "0123456789", NTS, 1, "012345678", true},
        CopyCase{"sizeOne", false, 1, "x", NTS, 1, "", true},
        CopyCase{"zeroSize", false, 0, "", NTS, 1, nullptr, true},
        CopyCase{"negativeSize", false, -5, "x", NTS, 1, nullptr, true},
        CopyCase{"nullDestText", true, 10, "x", NTS, 1, nullptr, true},
        CopyCase{"nullDestEmpty", true, 10, "", NTS, 0, nullptr, false},
        CopyCase{"emptyText", false, 8, nullptr, 4, 0, "", false},
        CopyCase{"trailingBlanksKept", false, 8, "ab  ", NTS, 0, "ab  ", false},
        CopyCase{"explicitLength", false, 8, "abcdef", 3, 0, "abc", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StrTest, CopyKeepsInnerNulBytes) {
  char dest[8];
  EXPECT_EQ(strCopy(diag_, dest, 8, "a\0b", 3), 0);
  EXPECT_EQ(std::memcmp(dest, "a\0b\0", 4), 0);
}

TEST_F(StrTest, EmptyCopyReturnsZeroEvenAfterAnError) {
  diagAdd(diag_, "HY000", 0, SEVERITY_ERROR, "e", nullptr, nullptr);
  char dest[4] = "abc";
  EXPECT_EQ(strCopy(diag_, dest, 4, "", NTS), 0);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(strCopy(diag_, dest, 4, "x", NTS), STATUS_ERROR);
}

TEST_F(StrTest, CopyWithNullContextReturnsZero) {
  char dest[4];
  EXPECT_EQ(strCopy(nullptr, dest, 4, "abcdef", NTS), 0);
  EXPECT_STREQ(dest, "abc");
}

struct AppendCase {
  const char* name;
  const char* initial;
  int32_t destSize;
  int32_t destLength;
  const char* text;
  const char* stored;
  bool truncated;
};

class StrAppendTest : public StrTest, public ::testing::WithParamInterface<AppendCase> {};

TEST_P(StrAppendTest, AppendsAfterTheCurrentText) {
  const AppendCase& c = GetParam();
  char dest[16];
  std::memset(dest, 'Z', sizeof dest);
  std::memcpy(dest, c.initial, std::strlen(c.initial) + 1);
  Status s = strAppend(diag_, dest, c.destSize, c.destLength, c.text, NTS);
  EXPECT_EQ(s, c.truncated ? 1 : 0);
  EXPECT_STREQ(dest, c.stored);
  int untouched = std::max(c.destSize, static_cast<int32_t>(std::strlen(c.initial) + 1));
  for (int i = untouched; i < static_cast<int>(sizeof dest); ++i) ASSERT_EQ(dest[i], 'Z') << i;
  EXPECT_EQ(recordsOf(diag_), c.truncated ? std::vector<SeenRecord>{kTruncated} : std::vector<SeenRecord>{});
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StrAppendTest,
    ::testing::Values(AppendCase{"fits", "ab", 8, NTS, "cd", "abcd", false},
                      AppendCase{"cut", "ab", 5, NTS, "cdef", "abcd", true},
                      AppendCase{"fullNoRoom", "abcd", 5, NTS, "e", "abcd", true},
                      AppendCase{"explicitLengthAtSizeEmptyText", "abcd", 4, 4, "", "abcd", true},
                      AppendCase{"explicitLength", "abXX", 8, 2, "cd", "abcd", false},
                      AppendCase{"lengthBeyondSize", "abcdef", 4, 6, "gh", "abcdef", false},
                      AppendCase{"emptyText", "ab", 8, NTS, "", "ab", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StrTest, AppendToNullDestination) {
  EXPECT_EQ(strAppend(diag_, nullptr, 10, NTS, "", NTS), 0);
  EXPECT_EQ(strAppend(diag_, nullptr, 10, NTS, "x", NTS), 1);
  EXPECT_EQ(recordsOf(diag_).size(), 1u);
}

struct CompareCase {
  const char* a;
  int32_t aLength;
  const char* b;
  int32_t bLength;
  int expected;
};

class StrCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(StrCompareTest, TrailingBlanksNeverCountCaseDoes) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(strCompare(c.a, c.aLength, c.b, c.bLength), c.expected);
  EXPECT_EQ(strCompare(c.b, c.bLength, c.a, c.aLength), -c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Collation, StrCompareTest,
    ::testing::Values(CompareCase{"abc", NTS, "abc   ", NTS, 0}, CompareCase{"", NTS, nullptr, 0, 0},
                      CompareCase{"   ", NTS, "", NTS, 0}, CompareCase{"abc", NTS, "abd", NTS, -1},
                      CompareCase{"ab", NTS, "abc", NTS, -1}, CompareCase{"a", NTS, "", NTS, 1},
                      CompareCase{"abcdef", 3, "abc", NTS, 0},
                      // An explicit length that covers a NUL: byte by byte.
                      CompareCase{"a\0b", 3, "a\0c", 3, -1}, CompareCase{"a\0b", 3, "a\0b\0\0", 5, 0},
                      CompareCase{"a\0", 2, "a", NTS, 0}));

TEST(StrCompare, CaseMatters) {
  EXPECT_NE(strCompare("abc", NTS, "ABC", NTS), 0);
  EXPECT_NE(strCompare("Foo", NTS, "foo  ", NTS), 0);
}

class StrCompareBytesTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(StrCompareBytesTest, UnsignedBytesTrailingNulsIgnored) {
  const CompareCase& c = GetParam();
  EXPECT_EQ(strCompareBytes(c.a, c.aLength, c.b, c.bLength), c.expected);
  EXPECT_EQ(strCompareBytes(c.b, c.bLength, c.a, c.aLength), -c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, StrCompareBytesTest,
    ::testing::Values(CompareCase{"ab", NTS, "abc", NTS, -1}, CompareCase{"abc", NTS, "abc", NTS, 0},
                      CompareCase{"ab\0\0", 4, "ab", NTS, 0}, CompareCase{"", NTS, nullptr, 0, 0},
                      CompareCase{"", NTS, "a", NTS, -1}, CompareCase{"b", NTS, "abc", NTS, 1},
                      CompareCase{"ab ", NTS, "ab", NTS, 1}, CompareCase{"\xff", NTS, "\x01", NTS, 1},
                      CompareCase{"abd", NTS, "abcz", NTS, 1}, CompareCase{"abb", NTS, "abcz", NTS, -1}));

class StrDuplicateTest : public StrTest {
 protected:
  void SetUp() override {
    StrTest::SetUp();
    heap_ = heapCreate(1024);
    ASSERT_NE(heap_, nullptr);
  }
  void TearDown() override {
    heapDestroy(heap_);
    StrTest::TearDown();
  }
  TracedHeap* heap_ = nullptr;
};

TEST_F(StrDuplicateTest, TrailingBlanksGoLeadingStay) {
  char* copy = strDuplicate(diag_, heap_, "  x  ", NTS);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "  x");
  EXPECT_EQ(heapBlockOf(copy)->owner, heap_);
  EXPECT_EQ(heapFree(copy), -1);
  EXPECT_EQ(strDuplicate(diag_, heap_, "    ", NTS), nullptr);
  EXPECT_EQ(strDuplicate(diag_, heap_, nullptr, 3), nullptr);
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS);
}

TEST_F(StrDuplicateTest, LongestTextThatFitsSixteenBitsAndOneMore) {
  std::string text(65534, 'x');
  char* copy = strDuplicate(diag_, heap_, text.c_str(), NTS);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::strlen(copy), 65534u);
  EXPECT_EQ(diagStatus(diag_), STATUS_SUCCESS);
  text += 'y';
  EXPECT_EQ(strDuplicate(diag_, heap_, text.c_str(), NTS), nullptr);
  EXPECT_EQ(diagStatus(diag_), STATUS_ERROR);
  EXPECT_EQ(diag_->outOfMemory, -1);
}

TEST_F(StrDuplicateTest, ExhaustedHeapReportsHY001) {
  faultArm(FaultPoint::HeapBlock, 0);
  EXPECT_EQ(strDuplicate(diag_, heap_, "abc", NTS), nullptr);
  EXPECT_EQ(diagStatus(diag_), STATUS_ERROR);
  EXPECT_EQ(recordsOf(diag_).size(), 0u);
}

TEST(StrFormat, NeverWritesPastTheBuffer) {
  char dest[8];
  std::memset(dest, 'Z', sizeof dest);
  EXPECT_EQ(strFormat(dest, 5, "%d", 123456), 4);
  EXPECT_STREQ(dest, "1234");
  EXPECT_EQ(dest[5], 'Z');
  EXPECT_EQ(strFormat(dest, 8, "%d/%s", -5, "tcp"), 6);
  EXPECT_STREQ(dest, "-5/tcp");
  EXPECT_EQ(strFormat(dest, 1, "%d", 7), 0);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(strFormat(nullptr, 8, "%d", 7), 0);
  EXPECT_EQ(strFormat(dest, 0, "%d", 7), 0);
}

TEST(StrPath, SeparatorsAreBackslashAndSlash) {
  EXPECT_TRUE(isPathSeparator('\\'));
  EXPECT_TRUE(isPathSeparator('/'));
  for (char c : {':', '|', ' ', '\0', 'a'}) EXPECT_FALSE(isPathSeparator(c)) << c;
}

}  // namespace
}  // namespace volsten
