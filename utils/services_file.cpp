#include "utils/services_file.h"

#include <cstdio>
#include <cstring>

#include "sys/file_lock.h"
#include "sys/stream_write.h"
#include "utils/service_line.h"

namespace volsten {
namespace {

// Lines are read in pieces of at most 1023 characters; the buffer then holds
// the new line.
constexpr int32_t kLineSize = 1024;

// What the scan saw of the file's end.
struct FileEnd {
  int32_t lastLength = 0;       // length of the last piece read
  bool lastEndsLine = false;    // it ends with a line feed
  bool lastEndsReturn = false;  // it ends with a carriage return
  bool crlf = false;            // the last line end seen was CR LF
};

void noteLine(FileEnd* end, const char* line) {
  auto n = static_cast<int32_t>(std::strlen(line));
  if (n == 0) return;
  bool endsLine = line[n - 1] == '\n';
  if (endsLine) {
    // A CR LF split over two pieces leaves the CR at the end of the first.
    end->crlf = n >= 2 ? line[n - 2] == '\r' : end->lastEndsReturn;
  }
  end->lastLength = n;
  end->lastEndsLine = endsLine;
  end->lastEndsReturn = line[n - 1] == '\r';
}

// Reads the file to its end, learning the columns. False when an entry for
// the service exists or the stream failed.
bool scan(std::FILE* file, const char* name, const char* protocol, EntryColumns* columns,
          FileEnd* end) {
  char line[kLineSize];
  while (std::fgets(line, kLineSize, file) != nullptr) {
    if (lineDefinesService(name, protocol, line)) return false;
    learnColumns(columns, line);
    noteLine(end, line);
  }
  return std::ferror(file) == 0;
}

// Appends the entry at the file's end, whole or not at all. In text mode on
// Windows the C runtime hides CR before LF and writes "\n" as CR LF; the POSIX
// port reads the CR and writes the line end the file's last line has, so a
// CR LF file stays CR LF there too.
void append(std::FILE* file, const EntryColumns& columns, const FileEnd& end,
            const EntryFields& fields) {
  char line[kLineSize];
  if (!buildEntryLine(line, kLineSize, columns, fields)) return;
  // A last line without its line end is ended first, so that the entry
  // starts on a line of its own.
  char text[kLineSize + 2] = "";
  if (end.lastLength > 0 && !end.lastEndsLine) {
    std::strcpy(text, end.lastEndsReturn ? "\n" : fields.newline);
  }
  std::strcat(text, line);
  // After reading, C requires a positioning call before the stream may be
  // written; without it the write can be lost.
  if (std::fseek(file, 0, SEEK_END) != 0) return;
  long size = std::ftell(file);
  if (size < 0) return;
  // A write cut short (a full disk) must not leave half an entry behind.
  if (!sysStreamWrite(file, text)) {
    std::clearerr(file);
    sysStreamTruncate(file, size);
  }
}

}  // namespace

int registerService(const char* path, const char* name, int32_t port, const char* protocol,
                    const char* comment) {
  EntryColumns columns;
  resetEntryColumns(&columns);
  if (path == nullptr || path[0] == '\0') return 0;
  std::FILE* file = std::fopen(path, "r+");
  if (file == nullptr) return 0;
  // The lock is held from before the first read until the entry is on disk,
  // so two registrations at once cannot both miss each other's line.
  if (sysFileLock(file)) {
    FileEnd end;
    if (scan(file, name, protocol, &columns, &end)) {
      append(file, columns, end,
             EntryFields{name, port, protocol, comment, end.crlf ? "\r\n" : "\n"});
    }
    sysFileUnlock(file);
  }
  std::fclose(file);
  return 0;
}

}  // namespace volsten
