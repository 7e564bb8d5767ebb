// Names the system compares without regard to case: library names, and the
// service names and protocols of a services file. ASCII letters only, as
// Windows does for these names whatever the locale.
#pragma once

namespace volsten {

inline char sysAsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

inline bool sysSameAsciiText(const char* a, const char* b) {
  for (; sysAsciiUpper(*a) == sysAsciiUpper(*b); ++a, ++b) {
    if (*a == '\0') return true;
  }
  return false;
}

}  // namespace volsten
