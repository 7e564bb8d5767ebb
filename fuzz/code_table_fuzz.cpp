// Fuzz target for the code translation file parser. The input is fed in the
// pieces fgets would give a file of these bytes (at most 511 characters,
// ending after a line feed), each in a block of exactly its size. A file
// without separator must come out with the inverse table: every mapped byte
// b has inbound[outbound[b]] = the highest byte mapped to the same value.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/code_table.h"
#include "config/code_table_reader.h"
#include "fuzz/require.h"

namespace volsten {
namespace {

void checkInverse(const CodeTable& table) {
  for (int b = 0; b < 256; ++b) {
    uint8_t value = table.outbound[b];
    uint8_t back = table.inbound[value];
    require(back >= b && table.outbound[back] == value);
  }
}

}  // namespace
}  // namespace volsten

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace volsten;
  auto table = std::make_unique<CodeTable>();
  CodeTableReader reader(*table);
  size_t at = 0;
  while (at < size) {
    size_t n = 0;
    while (n < 511 && at + n < size) {
      if (data[at + n++] == '\n') break;
    }
    auto piece = std::make_unique<char[]>(n + 1);
    std::memcpy(piece.get(), data + at, n);
    piece[n] = '\0';
    reader.readPiece(piece.get());
    at += n;
  }
  reader.finish();
  if (!reader.hasSeparator()) checkInverse(*table);
  return 0;
}
