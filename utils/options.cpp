#include "utils/options.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/str.h"

namespace volsten {
namespace {

constexpr int32_t kValueSize = 256;

ServiceOptions options;

struct ValueOption {
  const char* word;
  char* (*buffer)(ServiceOptions&);
  bool lowerCase;
};

constexpr ValueOption kValueOptions[] = {
    {"-name", [](ServiceOptions& o) { return o.name; }, true},
    {"-port", [](ServiceOptions& o) { return o.portText; }, true},
    {"-protocol", [](ServiceOptions& o) { return o.protocol; }, true},
    {"-comment", [](ServiceOptions& o) { return o.comment; }, false},
};

const ValueOption* valueOption(const char* word) {
  for (const ValueOption& o : kValueOptions) {
    if (std::strcmp(word, o.word) == 0) return &o;
  }
  return nullptr;
}

}  // namespace

ServiceOptions& serviceOptions() { return options; }

int parseOptions(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* word = argv[i];
    if (word == nullptr) return 0;
    if (std::strcmp(word, "-service") == 0) {
      options.service = 1;
      continue;
    }
    const ValueOption* option = valueOption(word);
    if (option == nullptr) return 0;
    // A value-taking option as the last argument has no value to read: stop
    // as for a value that begins with a minus sign.
    if (i + 1 >= argc || argv[i + 1] == nullptr) return 0;
    const char* value = argv[++i];
    if (value[0] == '-') return 0;
    char* dest = option->buffer(options);
    normaliseValue(dest, kValueSize, value, NTS);
    if (option->lowerCase) lowerCaseValue(dest, NTS);
  }
  return 1;
}

void normaliseValue(char* dest, int32_t destSize, const char* value, int32_t valueLength) {
  int32_t n = strTrimmedLength(value, valueLength);
  const char* start = value;
  if (n > 0 && start[0] == '"') {
    ++start;
    --n;
  }
  if (n > 0 && start[n - 1] == '"') --n;
  strCopy(nullptr, dest, destSize, start, n);
}

int lowerCaseValue(char* text, int32_t length) {
  int32_t n = strTrimmedLength(text, length);
  for (int32_t i = 0; i < n; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] - 'A' + 'a');
  }
  return n;
}

int32_t portFromText(const char* text) {
  if (text == nullptr) return 0;
  long long value = std::strtoll(text, nullptr, 10);
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace volsten
