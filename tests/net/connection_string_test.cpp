#include "net/connection_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/heap.h"
#include "base/list.h"
#include "base/str.h"
#include "sys/fault.h"
#include "tests/support/fault_guard.h"

namespace volsten {
namespace {

using Text = std::optional<std::string>;
using Pair = std::pair<Text, Text>;
const Text none = std::nullopt;

class Parsed {
 public:
  // The text sits in a block of exactly its size, so that a read past it
  // is caught by the address sanitizer.
  // beforeParse runs once the heap and the list exist.
  explicit Parsed(const std::string& text, int32_t length = kWhole, DiagContext* diag = nullptr,
                  const std::function<void()>& beforeParse = {}) {
    heap_ = heapCreate(2048);
    list_ = listCreate(heap_);
    copy_.reset(new char[text.size() > 0 ? text.size() : 1]);
    std::memcpy(copy_.get(), text.data(), text.size());
    if (beforeParse) beforeParse();
    int32_t n = length == kWhole ? static_cast<int32_t>(text.size()) : length;
    parseConnectionString(diag, heap_, list_, copy_.get(), n);
  }
  static constexpr int32_t kWhole = -100;
  ~Parsed() { heapDestroy(heap_); }
  Parsed(const Parsed&) = delete;
  Parsed& operator=(const Parsed&) = delete;

  std::vector<Pair> pairs() const {
    std::vector<Pair> seen;
    for (const ListNode* node = list_->first; node != nullptr; node = node->next) {
      auto* p = static_cast<const ConnectionPair*>(node->item);
      EXPECT_EQ(p->keyLength, NTS);
      EXPECT_EQ(p->valueLength, NTS);
      seen.emplace_back(p->key ? Text(p->key) : none, p->value ? Text(p->value) : none);
    }
    return seen;
  }
  const KeyedList* list() const { return list_; }

 private:
  TracedHeap* heap_;
  KeyedList* list_;
  std::unique_ptr<char[]> copy_;
};

struct ParseCase {
  const char* name;
  std::string text;
  std::vector<Pair> pairs;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, YieldsPairsInTextOrder) {
  EXPECT_EQ(Parsed(GetParam().text).pairs(), GetParam().pairs);
}

INSTANTIATE_TEST_SUITE_P(
    Described, ParseTest,
    ::testing::Values(
        ParseCase{"two_pairs", "Protocol=TCP;Port=99", {{"Protocol", "TCP"}, {"Port", "99"}}},
        ParseCase{"braced_value", "Command={prog /x a;b=c}", {{"Command", "prog /x a;b=c"}}},
        ParseCase{"empty_segment", "A=1;;B", {{"A", "1"}, {"B", none}}},
        ParseCase{"orphan_equals", "=x;A=1", {{"A", "1"}}},
        ParseCase{"blanks", "A = 1 ", {{"A", " 1"}}},
        ParseCase{"empty_value", "A=;B=2", {{"A", none}, {"B", "2"}}},
        ParseCase{"blank_segment", " ;A=1", {{none, none}, {"A", "1"}}},
        ParseCase{"double_equals", "A==b;C=3", {{"A", none}, {"C", "3"}}},
        ParseCase{"empty", "", {}}, ParseCase{"blanks_only", "    ", {}},
        ParseCase{"unbraced_separator", "Command=a;b", {{"Command", "a"}, {"b", none}}},
        ParseCase{"unclosed_brace", "A={a", {{"A", "a"}}},
        ParseCase{"key_keeps_leading_blank", " Protocol=TCP", {{" Protocol", "TCP"}}},
        ParseCase{"tab_is_no_blank", "\tA=1\t", {{"\tA", "1\t"}}},
        ParseCase{"nested_braces", "A={x{y;z}w};B=1", {{"A", "x{y;z}w"}, {"B", "1"}}},
        ParseCase{"braced_key", "{k=1}=v", {{"k=1", "v"}}},
        ParseCase{"empty_braces", "A={};B={ }", {{"A", none}, {"B", none}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Mixed words: a '{' outside braces starts the word afresh, its matching
// '}' ends the word's text, and a '}' with none open is a plain character.
INSTANTIATE_TEST_SUITE_P(
    MixedBraces, ParseTest,
    ::testing::Values(ParseCase{"text_before_brace", "K=ab{c}", {{"K", "c"}}},
                      ParseCase{"text_after_brace", "K={a}b;L=1", {{"K", "a"}, {"L", "1"}}},
                      ParseCase{
                          "blanks_around_braces", "K= {x;y} ;L=1", {{"K", "x;y"}, {"L", "1"}}},
                      ParseCase{"second_pair_wins", "K={a}{b}", {{"K", "b"}}},
                      ParseCase{"unmatched_close", "K=a}b;L=}", {{"K", "a}b"}, {"L", "}"}}},
                      ParseCase{"close_after_pair", "K={a}};L=1", {{"K", "a"}, {"L", "1"}}},
                      ParseCase{"open_at_the_end", "K=ab{", {{"K", none}}},
                      ParseCase{"text_then_unclosed", "K=ab{c;d", {{"K", "c;d"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseLengthTest, EffectiveTextEndsAtLengthTrailingBlanksOrNul) {
  EXPECT_EQ(Parsed("A=1;B=2", 3).pairs(), (std::vector<Pair>{{"A", "1"}}));
  EXPECT_EQ(Parsed(std::string("A=1\0B=2", 7)).pairs(), (std::vector<Pair>{{"A", "1"}}));
  EXPECT_EQ(Parsed(std::string("A={1\0;B=2}", 10)).pairs(), (std::vector<Pair>{{"A", "1"}}));
  EXPECT_EQ(Parsed(std::string("A=1 \0\0 ", 7)).pairs(), (std::vector<Pair>{{"A", "1"}}));
  // Blanks before an inner NUL trail the text, as they do with NTS.
  EXPECT_EQ(Parsed(std::string("A=1; \0B", 7)).pairs(), (std::vector<Pair>{{"A", "1"}}));
  EXPECT_EQ(Parsed(std::string("A=1\0", 4), NTS).pairs(), (std::vector<Pair>{{"A", "1"}}));
  EXPECT_EQ(Parsed("A=1", 0).pairs(), std::vector<Pair>{});
  EXPECT_EQ(Parsed("A=1", -1).pairs(), std::vector<Pair>{});
}

TEST(ParseMemoryTest, EveryFailedAllocationKeepsAPrefixAndReportsOutOfMemory) {
  testing::FaultGuard faults;
  const std::string text = "Protocol=TCP;Host=x;Port=99";
  const std::vector<Pair> full = Parsed(text).pairs();
  for (int successes = 0;; ++successes) {
    DiagContext* diag = diagCreate(nullptr);
    std::vector<Pair> seen = Parsed(text, Parsed::kWhole, diag, [&] {
                               faultArm(FaultPoint::HeapBlock, successes);
                             }).pairs();
    faultDisarmAll();
    Status status = diagStatus(diag);
    diagFree(diag);
    ASSERT_LE(seen.size(), full.size());
    for (size_t i = 0; i < seen.size(); ++i) {
      // A pair whose copy failed is kept with a null field.
      EXPECT_TRUE(!seen[i].first || seen[i].first == full[i].first) << successes;
      EXPECT_TRUE(!seen[i].second || seen[i].second == full[i].second) << successes;
    }
    if (status == STATUS_SUCCESS) {
      EXPECT_EQ(seen, full);
      break;
    }
    EXPECT_EQ(status, STATUS_ERROR);
  }
}

struct SameCase {
  const char* name;
  std::string a, b;
  bool same;
};

class SameTest : public ::testing::TestWithParam<SameCase> {};

TEST_P(SameTest, ComparesPairsByKeyBytesAndValueText) {
  Parsed a(GetParam().a), b(GetParam().b);
  EXPECT_EQ(sameConnectionPairs(a.list(), b.list()), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(
    Pool, SameTest,
    ::testing::Values(
        SameCase{"order_free", "Protocol=TCP;Host=x", "Host=x;Protocol=TCP", true},
        SameCase{"counts_differ", "Host=x;Protocol=TCP", "Host=x;Protocol=TCP;Port=1", false},
        SameCase{"pair_serves_twice", "A=1;A=1", "A=1;B=2", true},
        SameCase{"trailing_blank", "Host=x ", "Host=x", true},
        SameCase{"key_case", "A=1", "a=1", false}, SameCase{"value_case", "A=x", "A=X", false},
        SameCase{"value_blank_before", "A= x", "A=x", false},
        SameCase{"other_key", "A=1", "B=1", false}, SameCase{"null_values", "A=;B", "B=;A", true},
        SameCase{"null_value_is_empty", "A={}", "A=", true},
        SameCase{"null_keys", " =1;A=1", "A=1;=x;   =1", true},
        SameCase{"null_key_is_no_name", " =1;A=1", "A=1;B=1", false},
        SameCase{"null_key_not_a_name", " ;A=1", "B;A=1", false},
        SameCase{"first_of_duplicates", "A=2;B=1", "A=1;A=2", false},
        SameCase{"both_empty", "", "  ", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SameConnectionPairsTest, LeavesTheListsCursorsAlone) {
  Parsed a("A=1;B=2");
  auto* list = const_cast<KeyedList*>(a.list());
  void* second = listMove(list, LIST_LAST, nullptr);
  EXPECT_TRUE(sameConnectionPairs(list, list));
  EXPECT_EQ(listMove(list, LIST_CURRENT, nullptr), second);
}

}  // namespace
}  // namespace volsten
