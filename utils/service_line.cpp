#include "utils/service_line.h"

#include <cstring>

#include "base/str.h"

namespace volsten {
namespace {

constexpr int32_t kMaxColumns = 10;
constexpr int32_t kTokenSize = 128;  // 127 compared characters and a NUL
constexpr int32_t kDefaultEntryColumn = 0;
constexpr int32_t kDefaultSlashColumn = 21;
constexpr int32_t kDefaultCommentColumn = 52;

// White space of the default locale.
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char* skipSpace(const char* p) {
  while (isSpace(*p)) ++p;
  return p;
}

// Reads a token up to white space, '#' or the end into token, lower-cased;
// characters past the 127th are skipped. Returns the position after it.
const char* readToken(const char* p, char (&token)[kTokenSize]) {
  int32_t n = 0;
  for (; *p != '\0' && *p != '#' && !isSpace(*p); ++p) {
    if (n < kTokenSize - 1) {
      char c = *p;
      token[n++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  token[n] = '\0';
  return p;
}

bool isEmpty(const char* text) { return strTrimmedLength(text, NTS) <= 0; }

// Appends text whole, or nothing when it does not fit.
bool append(char* line, int32_t lineSize, const char* text) {
  size_t used = std::strlen(line), n = std::strlen(text);
  if (used + n >= static_cast<size_t>(lineSize)) return false;
  std::memcpy(line + used, text, n + 1);
  return true;
}

// The port must not touch the name: a line that ends in a non-blank at the
// port's start column gets one blank.
bool keepApart(char* line, int32_t lineSize) {
  size_t used = std::strlen(line);
  if (used == 0 || line[used - 1] == ' ') return true;
  return append(line, lineSize, " ");
}

bool buildAt(char* line, int32_t lineSize, int32_t entry, int32_t slash, int32_t comment,
             const EntryFields& f) {
  char port[32];
  strFormat(port, sizeof port, "%d", f.port);
  const int32_t portStart = slash - static_cast<int32_t>(std::strlen(port));
  line[0] = '\0';
  return padToColumn(line, lineSize, entry) &&
         (isEmpty(f.name) || append(line, lineSize, f.name)) &&
         padToColumn(line, lineSize, portStart) && keepApart(line, lineSize) &&
         append(line, lineSize, port) && append(line, lineSize, "/") &&
         (isEmpty(f.protocol) || append(line, lineSize, f.protocol)) &&
         (isEmpty(f.comment) ||
          (padToColumn(line, lineSize, comment) && append(line, lineSize, "#") &&
           append(line, lineSize, f.comment))) &&
         append(line, lineSize, f.newline != nullptr ? f.newline : "\n");
}

}  // namespace

int entryCanBeWritten(const char* name, const char* protocol, const char* comment) {
  auto isToken = [](const char* text) {
    return text == nullptr || text[std::strcspn(text, " \t\n\v\f\r#")] == '\0';
  };
  bool commentIsOneLine = comment == nullptr || std::strpbrk(comment, "\r\n") == nullptr;
  return isToken(name) && isToken(protocol) && commentIsOneLine ? 1 : 0;
}

int lineDefinesService(const char* name, const char* protocol, const char* line) {
  if (line == nullptr) return 0;
  if (name == nullptr) name = "";
  if (protocol == nullptr) protocol = "";
  const char* p = skipSpace(line);
  if (*p == '\0' || *p == '#') return 0;
  char token[kTokenSize];
  p = readToken(p, token);
  if (std::strcmp(token, name) != 0 || *p == '\0' || *p == '#') return 0;
  while (*p != '\0' && *p != '#' && *p != '/') ++p;
  if (*p != '/') return 0;
  readToken(p + 1, token);
  return std::strcmp(token, protocol) == 0 ? 1 : 0;
}

void resetColumnStats(ColumnStats* stats, int32_t defaultColumn) {
  *stats = ColumnStats{};
  stats->count = 1;
  stats->positions[0] = defaultColumn;
}

void recordColumn(ColumnStats* stats, int32_t column) {
  for (int32_t i = 0; i < stats->count; ++i) {
    if (stats->positions[i] == column) {
      ++stats->frequencies[i];
      return;
    }
  }
  if (stats->count >= kMaxColumns) return;
  stats->positions[stats->count] = column;
  stats->frequencies[stats->count] = 1;
  ++stats->count;
}

int32_t mostFrequentColumn(const ColumnStats* stats) {
  int32_t best = -1, column = stats->positions[0];
  for (int32_t i = 0; i < stats->count; ++i) {
    if (stats->frequencies[i] > best) {
      best = stats->frequencies[i];
      column = stats->positions[i];
    }
  }
  return column;
}

void resetEntryColumns(EntryColumns* columns) {
  resetColumnStats(&columns->entry, kDefaultEntryColumn);
  resetColumnStats(&columns->slash, kDefaultSlashColumn);
  resetColumnStats(&columns->comment, kDefaultCommentColumn);
}

void learnColumns(EntryColumns* columns, const char* line) {
  const char* first = skipSpace(line);
  if (*first == '\0' || *first == '#') return;
  recordColumn(&columns->entry, static_cast<int32_t>(first - line));
  // The first '/' of the line, even one inside a comment.
  const char* slash = std::strchr(first, '/');
  if (slash == nullptr) return;
  recordColumn(&columns->slash, static_cast<int32_t>(slash - line));
  const char* hash = std::strchr(slash, '#');
  if (hash != nullptr) recordColumn(&columns->comment, static_cast<int32_t>(hash - line));
}

int padToColumn(char* line, int32_t lineSize, int32_t column) {
  auto used = static_cast<int32_t>(std::strlen(line));
  int32_t target = used < column ? column : (used > column ? used + 1 : used);
  if (target >= lineSize) return 0;
  std::memset(line + used, ' ', static_cast<size_t>(target - used));
  line[target] = '\0';
  return 1;
}

int buildEntryLine(char* line, int32_t lineSize, const EntryColumns& columns,
                   const EntryFields& fields) {
  if (line == nullptr || lineSize <= 0) return 0;
  if (buildAt(line, lineSize, mostFrequentColumn(&columns.entry),
              mostFrequentColumn(&columns.slash), mostFrequentColumn(&columns.comment), fields)) {
    return 1;
  }
  // Columns learned from very long lines: one blank between the fields.
  if (buildAt(line, lineSize, 0, 0, 0, fields)) return 1;
  line[0] = '\0';
  return 0;
}

}  // namespace volsten
