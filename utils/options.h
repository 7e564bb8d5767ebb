// The tool's command line: one service entry described by -service, -name,
// -port, -protocol and -comment.
#pragma once

#include <cstdint>

namespace volsten {

// Process-wide option state, all empty at start. An option given twice keeps
// the later value.
struct ServiceOptions {
  int32_t service;         // 1 after -service
  char name[256];          // trimmed, unquoted, lower-cased
  char portText[256];      // trimmed, unquoted, lower-cased
  char protocol[256];      // trimmed, unquoted, lower-cased
  char comment[256];       // trimmed, unquoted, case kept
  char servicesPath[512];  // formed by locateServicesFile
};

ServiceOptions& serviceOptions();

// 1 when every argument from index 1 on was accepted; 0 at the first bad one
// (an unknown word, a value that begins with '-', or a value-taking option
// with no value after it). Values stored before a bad argument stay stored.
int parseOptions(int argc, const char* const* argv);

// Stores one option value in dest: trailing blanks and NUL bytes dropped, then
// one leading and one trailing double quote removed; cut to destSize - 1.
void normaliseValue(char* dest, int32_t destSize, const char* value, int32_t valueLength);

// Lower-cases A-Z in the first strTrimmedLength(text, length) bytes and
// returns that count; a count of 0 or less is returned and nothing changes.
int lowerCaseValue(char* text, int32_t length);

// The port as strtol reads it in base 10 (leading white space, sign, digits
// up to the first non-digit; none give 0), saturated at the 32-bit limits.
int32_t portFromText(const char* text);

}  // namespace volsten
