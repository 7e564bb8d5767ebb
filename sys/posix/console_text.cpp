#include "sys/console_text.h"

#include <cstdint>

namespace volsten {
namespace {

// The code points of 0x80..0x9F in Windows-1252; 0 where the code page has
// no character (those bytes are shown as U+FFFD). 0xA0..0xFF are Latin-1.
constexpr uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void putUtf8(std::FILE* stream, uint32_t code) {
  if (code < 0x80) {
    std::fputc(static_cast<int>(code), stream);
  } else if (code < 0x800) {
    std::fputc(static_cast<int>(0xC0 | (code >> 6)), stream);
    std::fputc(static_cast<int>(0x80 | (code & 0x3F)), stream);
  } else {
    std::fputc(static_cast<int>(0xE0 | (code >> 12)), stream);
    std::fputc(static_cast<int>(0x80 | ((code >> 6) & 0x3F)), stream);
    std::fputc(static_cast<int>(0x80 | (code & 0x3F)), stream);
  }
}

}  // namespace

void sysWriteText(std::FILE* stream, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    auto byte = static_cast<uint8_t>(*p);
    uint32_t code = byte;
    if (byte >= 0x80 && byte < 0xA0) code = kHigh[byte - 0x80] != 0 ? kHigh[byte - 0x80] : 0xFFFD;
    putUtf8(stream, code);
  }
}

}  // namespace volsten
