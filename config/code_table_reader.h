// The parser of code translation files. A file is read in the pieces fgets
// gives (at most 511 characters, ending after a line feed when there is
// one); each piece is read as a line of tokens separated by white space.
//
// A token is a pair a:b of numbers, tried with the scanf patterns "%u:%u",
// "%x:%x", "%u:%x" and "%x:%u" in that order; the first that converts both
// numbers sets entry a to the low 8 bits of b. A token that is no pair ends
// its line, so text after the pairs reads as a comment. While the outbound
// table is read, a token beginning with "/" ends it, and the lines after it
// fill the inbound table; a file without one gets the inverse of its
// outbound table as inbound.
#pragma once

#include "config/code_table.h"

namespace volsten {

class CodeTableReader {
 public:
  // Clears both tables of table; the name is left alone.
  explicit CodeTableReader(CodeTable& table);

  // One NUL-terminated piece of the file.
  void readPiece(const char* piece);

  // At the end of the file: the inverse inbound table, when the file had no
  // separator.
  void finish();

  // True once a separator has started the inbound part.
  bool hasSeparator() const { return inboundPart_; }

 private:
  CodeTable& table_;
  bool inboundPart_ = false;
};

}  // namespace volsten
