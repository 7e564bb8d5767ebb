#include "base/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace volsten {
namespace {

TEST(Messages, CatalogueHoldsSixtyTwoTextsClosedByNull) {
  for (int i = 0; i < kMessageCount; ++i) EXPECT_NE(kMessages[i], nullptr) << i;
  EXPECT_EQ(kMessages[kMessageCount], nullptr);
  EXPECT_EQ(messageText(-1), nullptr);
  EXPECT_EQ(messageText(62), nullptr);
  EXPECT_EQ(messageText(61), kMessages[61]);
}

TEST(Messages, TextsAreTheExactWindows1252Bytes) {
  EXPECT_STREQ(kMessages[MSG_TRUNCATED], "Daten wurden abgeschnitten ");
  EXPECT_STREQ(kMessages[MSG_NO_MEMORY], "Es ist nicht genug Speicher vorhanden");
  EXPECT_STREQ(kMessages[MSG_CS_DISABLED],
               "Dieses Produkt unterst\xFCtzt keine Client/Server Verbindungen.");
  EXPECT_STREQ(kMessages[28], "<Large Object Gr\xF6\xDF" "enangabe>");
  EXPECT_STREQ(kMessages[29], "'[' oder '?\?('");
  // FNV-1a over all texts, each followed by a line feed, as computed from the
  // catalogue's reference list: any changed, lost or re-encoded byte shows.
  uint32_t hash = 0x811c9dc5u;
  size_t bytes = 0;
  for (int i = 0; i < kMessageCount; ++i) {
    bytes += std::strlen(kMessages[i]);
    for (const char* p = kMessages[i];; ++p) {
      unsigned char c = *p != '\0' ? static_cast<unsigned char>(*p) : '\n';
      hash = (hash ^ c) * 0x01000193u;
      if (*p == '\0') break;
    }
  }
  EXPECT_EQ(bytes, 2090u);
  EXPECT_EQ(hash, 0x6f288eb7u);
}

}  // namespace
}  // namespace volsten
