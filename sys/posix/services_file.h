// Reads a services file the way the socket library's own lookup does, for
// when the test seam moves the system directory: one entry a line, "name
// port/protocol aliases...", '#' to the end of the line a comment, lines
// that are no entry skipped. Names, aliases and protocols are compared
// without regard to case, as Windows compares them.
#pragma once

namespace volsten {

// What is looked for: by name (or alias) when name is set, else by port
// (host byte order); a null protocol matches any.
struct ServiceQuery {
  const char* name;
  int port;
  const char* protocol;
};

// The entry found; the strings live until keep returns.
struct ServiceMatch {
  const char* name;
  int port;  // host byte order
  const char* protocol;
  const char* const* aliases;
  int aliasCount;
};

constexpr int kMaxServiceAliases = 16;

// Hands the first matching entry (with up to kMaxServiceAliases aliases) of
// the file at path to keep and returns keep's result; false when the file
// cannot be read or holds no match.
bool findInServicesFile(const char* path, const ServiceQuery& query,
                        bool (*keep)(const ServiceMatch& match));

}  // namespace volsten
