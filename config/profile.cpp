#include "config/profile.h"

#include <cctype>
#include <cstring>
#include <mutex>

#include "base/str.h"
#include "config/file_channel.h"
#include "sys/directories.h"

namespace volsten {
namespace {

// One read returns at most 253 characters, the line feed included; the
// rest of a longer line comes back as a line of its own.
constexpr int32_t kLineBufferSize = 264;
constexpr int32_t kLineRoom = 254;
constexpr int32_t kWindowsDirectoryRoom = 260;
constexpr int32_t kPathSize = 512;

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* skipBlanks(const char* p) {
  while (*p != '\0' && isBlank(*p)) ++p;
  return p;
}

// The length of text[0, length) without its trailing white space.
int32_t trimmedEnd(const char* text, int32_t length) {
  while (length > 0 && isBlank(text[length - 1])) --length;
  return length;
}

class ProfileLines {
 public:
  explicit ProfileLines(FileChannel* channel) : channel_(channel) {}
  // The next line with its leading white space skipped; null at the end.
  const char* next() {
    if (readChannelLine(line_, kLineRoom, channel_) == nullptr) return nullptr;
    return skipBlanks(line_);
  }

 private:
  FileChannel* channel_;
  char line_[kLineBufferSize];
};

// A header is "[" and a later "]"; its name is what lies between, exactly.
bool headerName(const char* line, const char** name, int32_t* length) {
  if (*line != '[') return false;
  const char* close = std::strchr(line + 1, ']');
  if (close == nullptr) return false;
  *name = line + 1;
  *length = static_cast<int32_t>(close - line - 1);
  return true;
}

bool isHeader(const char* line) {
  const char* name;
  int32_t length;
  return headerName(line, &name, &length);
}

bool sameName(const char* name, int32_t length, const char* wanted) {
  return std::strlen(wanted) == static_cast<size_t>(length) &&
         std::memcmp(name, wanted, static_cast<size_t>(length)) == 0;
}

bool isSkipped(const char* line) { return *line == '\0' || *line == ';' || *line == '='; }

// Reads up to the first header named section; false at the end of the file.
bool findSection(ProfileLines& lines, const char* section) {
  for (const char* line = lines.next(); line != nullptr; line = lines.next()) {
    const char* name;
    int32_t length;
    if (headerName(line, &name, &length) && sameName(name, length, section)) return true;
  }
  return false;
}

// Names stored one after the other while room is left; once it is used
// up, further names are dropped and the list still ends inside the buffer.
class NameList {
 public:
  NameList(char* buffer, int32_t size) : start_(buffer), at_(buffer), room_(size - 1) {}
  void add(const char* name, int32_t length) {
    if (room_ <= 0) return;
    strCopy(nullptr, at_, room_, name, length > 0 ? length : 0);
    auto stored = static_cast<int32_t>(std::strlen(at_)) + 1;
    at_ += stored;
    room_ -= stored;
  }
  int32_t finish() {
    *at_ = '\0';
    return at_ == start_ ? 0 : static_cast<int32_t>(at_ - start_) - 1;
  }

 private:
  char* start_;
  char* at_;
  int32_t room_;
};

int32_t storeDefault(const char* defaultValue, char* buffer, int32_t size) {
  strCopy(nullptr, buffer, size, defaultValue, NTS);
  return strTrimmedLength(buffer, NTS);
}

int32_t listSections(FileChannel* channel, char* buffer, int32_t size) {
  ProfileLines lines(channel);
  NameList names(buffer, size);
  for (const char* line = lines.next(); line != nullptr; line = lines.next()) {
    const char* name;
    int32_t length;
    if (headerName(line, &name, &length)) names.add(name, length);
  }
  return names.finish();
}

int32_t listKeys(FileChannel* channel, const char* section, char* buffer, int32_t size) {
  ProfileLines lines(channel);
  if (!findSection(lines, section)) {
    buffer[0] = '\0';
    return 0;
  }
  NameList names(buffer, size);
  for (const char* line = lines.next(); line != nullptr && !isHeader(line); line = lines.next()) {
    if (isSkipped(line)) continue;
    names.add(line, trimmedEnd(line, static_cast<int32_t>(std::strcspn(line, "=;"))));
  }
  return names.finish();
}

// A quoted value up to its closing quote (a doubled quote stands for one)
// or the end of the line.
void copyQuoted(const char* value, char* buffer, int32_t size) {
  char quote = *value++;
  int32_t stored = 0;
  while (*value != '\0' && stored < size - 1) {
    if (*value == quote) {
      if (value[1] != quote) break;
      ++value;
    }
    buffer[stored++] = *value++;
  }
  buffer[stored] = '\0';
}

int32_t findValue(FileChannel* channel, const char* section, const char* key,
                  const char* defaultValue, char* buffer, int32_t size) {
  ProfileLines lines(channel);
  if (!findSection(lines, section)) return storeDefault(defaultValue, buffer, size);
  for (const char* line = lines.next(); line != nullptr && !isHeader(line); line = lines.next()) {
    size_t nameEnd = std::strcspn(line, "=;");
    if (isSkipped(line) || line[nameEnd] != '=') continue;
    if (!sameName(line, trimmedEnd(line, static_cast<int32_t>(nameEnd)), key)) continue;
    const char* value = skipBlanks(line + nameEnd + 1);
    if (*value == '"' || *value == '\'') {
      copyQuoted(value, buffer, size);
    } else {
      strCopy(nullptr, buffer, size, value, static_cast<int32_t>(std::strcspn(value, ";")));
    }
    buffer[trimmedEnd(buffer, static_cast<int32_t>(std::strlen(buffer)))] = '\0';
    return strTrimmedLength(buffer, NTS);
  }
  return storeDefault(defaultValue, buffer, size);
}

// Always a local file: a Windows directory that is itself a server path is
// opened as the system's own path, never through a server whose settings
// this very file holds.
FileChannel* openProfile(const char* fileName) {
  if (fileName == nullptr) return nullptr;
  char path[kPathSize];
  if (std::strpbrk(fileName, "\\/") != nullptr) {
    if (std::strlen(fileName) >= sizeof path) return nullptr;
    std::strcpy(path, fileName);
  } else {
    char directory[kWindowsDirectoryRoom];
    if (!sysWindowsDirectory(directory, sizeof directory)) return nullptr;
    // A path cut to the buffer would name another file.
    if (!strJoinPath(path, sizeof path, directory, fileName)) return nullptr;
  }
  return openLocalChannel(path, "r");
}

// Every read, from the open to the close, under one lock; made once, also
// when the first two calls come at the same time.
std::mutex& profileLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

int32_t getProfileString(const char* section, const char* key, const char* defaultValue,
                         char* buffer, int32_t size, const char* fileName) {
  if (buffer == nullptr || size <= 0) return 0;
  std::lock_guard<std::mutex> hold(profileLock());
  FileChannel* channel = openProfile(fileName);
  if (channel == nullptr) return storeDefault(defaultValue, buffer, size);
  int32_t result;
  if (strTrimmedLength(section, NTS) == 0) {
    result = listSections(channel, buffer, size);
  } else if (strTrimmedLength(key, NTS) == 0) {
    result = listKeys(channel, section, buffer, size);
  } else {
    result = findValue(channel, section, key, defaultValue, buffer, size);
  }
  closeChannel(channel);
  return result;
}

}  // namespace volsten
