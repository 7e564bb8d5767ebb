#include "config/code_table_reader.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace volsten {
namespace {

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The patterns in the order the format prescribes: "65:6A" is the decimal
// pair 65:6, and only a token the decimal pattern cannot convert is tried as
// hexadecimal.
// The token alone is matched: "65: 66" is the token "65:", which is no
// pair, although scanf on the rest of the line would skip to the 66.
bool readPair(const char* token, size_t length, unsigned* a, unsigned* b) {
  static constexpr const char* kPatterns[] = {"%u:%u", "%x:%x", "%u:%x", "%x:%u"};
  char alone[512];
  if (length >= sizeof alone) return false;
  std::memcpy(alone, token, length);
  alone[length] = '\0';
  for (const char* pattern : kPatterns) {
    if (std::sscanf(alone, pattern, a, b) == 2) return true;
  }
  return false;
}

}  // namespace

CodeTableReader::CodeTableReader(CodeTable& table) : table_(table) {
  std::memset(table_.outbound, 0, sizeof table_.outbound);
  std::memset(table_.inbound, 0, sizeof table_.inbound);
}

void CodeTableReader::readPiece(const char* piece) {
  const char* p = piece;
  for (;;) {
    while (*p != '\0' && isBlank(*p)) ++p;
    if (*p == '\0') return;
    if (!inboundPart_ && *p == '/') {
      inboundPart_ = true;
      return;
    }
    const char* end = p;
    while (*end != '\0' && !isBlank(*end)) ++end;
    unsigned a = 0;
    unsigned b = 0;
    if (!readPair(p, static_cast<size_t>(end - p), &a, &b)) return;
    // A first number above 255 (a negative one converts to a large value)
    // names no byte: the pair is dropped.
    if (a <= 255) {
      uint8_t* entries = inboundPart_ ? table_.inbound : table_.outbound;
      entries[a] = static_cast<uint8_t>(b & 0xFF);
    }
    p = end;
  }
}

void CodeTableReader::finish() {
  if (inboundPart_) return;
  // Ascending, so where several bytes share a value the highest wins; the
  // entry for 0 takes the highest unmapped byte and never applies.
  for (int i = 0; i < 256; ++i) table_.inbound[table_.outbound[i]] = static_cast<uint8_t>(i);
}

}  // namespace volsten
