// Texts longer than a 32-bit signed length can count. Such a text takes
// 2 GiB of memory, slow to touch, and every test runs in a process of its
// own: one test makes the text once and checks each operation on it. 32-bit
// targets cannot hold it: skipped.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "base/diag.h"
#include "base/str.h"
#include "tests/support/diag_reader.h"

namespace volsten {
namespace {

using testing::recordsOf;
using testing::SeenRecord;

constexpr uint64_t kLongTextLength = (uint64_t{1} << 31) + 15;

// Null where the address space or the system cannot give the memory. A
// template, so that 32-bit builds never see the size they cannot express.
template <bool kWide = (sizeof(size_t) > 4)>
std::unique_ptr<char[]> makeLongText() {
  if constexpr (!kWide) {
    return nullptr;
  } else {
    std::unique_ptr<char[]> text(new (std::nothrow) char[kLongTextLength + 1]);
    if (text != nullptr) {
      std::memset(text.get(), 'x', kLongTextLength);
      text[kLongTextLength] = '\0';
    }
    return text;
  }
}

TEST(LongText, IsCutWhenCopiedAndDroppedFromMessagesNeverOverflowed) {
  std::unique_ptr<char[]> text = makeLongText();
  if (text == nullptr) GTEST_SKIP() << "no room for a text over 2 GiB";
  DiagContext* diag = diagCreate(nullptr);
  ASSERT_NE(diag, nullptr);

  // Counted as the longest length, so that a copy is cut, never empty.
  EXPECT_EQ(strLength(text.get(), NTS), INT32_MAX);
  char dest[8];
  EXPECT_EQ(strCopy(diag, dest, sizeof dest, text.get(), NTS), STATUS_SUCCESS_WITH_INFO);
  EXPECT_STREQ(dest, "xxxxxxx");
  EXPECT_EQ(
      recordsOf(diag),
      (std::vector<SeenRecord>{{SEVERITY_WARNING, "01004", 1, "Daten wurden abgeschnitten "}}));

  // Message parts whose lengths would overflow when added up.
  diagClear(diag);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, text.get(), nullptr, nullptr);
  diagAdd(diag, "HY000", 0, SEVERITY_ERROR, "a", text.get(), text.get());
  EXPECT_EQ(recordsOf(diag).size(), 0u);
  EXPECT_EQ(diagStatus(diag), STATUS_ERROR);
  diagFree(diag);
}

}  // namespace
}  // namespace volsten
