#include "utils/services_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sys/file_append.h"
#include "sys/file_lock.h"
#include "utils/service_line.h"

namespace volsten {
namespace {

// Lines are read in pieces of at most 1023 characters; the buffer then holds
// the new line.
constexpr int32_t kLineSize = 1024;

// A registration waits this long for another writer's lock, then gives up:
// a stuck holder must not hang a tool that nobody watches.
constexpr uint32_t kLockWaitMilliseconds = 30000;

// Reads the stream in the pieces fgets (line, 1024, file) gives: at most
// 1023 bytes, ending after a line feed when there is one. Unlike fgets it
// tells how many bytes each piece holds, NUL bytes included.
class PieceReader {
 public:
  explicit PieceReader(std::FILE* file) : file_(file) {}

  // The next piece, NUL-terminated; false at the end of the file or on a
  // read error.
  bool next(char (&piece)[kLineSize], int32_t* length) {
    size_t n = 0;
    while (n < kLineSize - 1) {
      if (start_ == end_ && !refill()) break;
      size_t room = std::min(end_ - start_, static_cast<size_t>(kLineSize - 1) - n);
      const char* from = buffer_ + start_;
      const void* feed = std::memchr(from, '\n', room);
      size_t take =
          feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - from) + 1 : room;
      std::memcpy(piece + n, from, take);
      n += take;
      start_ += take;
      if (feed != nullptr) break;
    }
    piece[n] = '\0';
    *length = static_cast<int32_t>(n);
    return n > 0;
  }

 private:
  bool refill() {
    start_ = 0;
    end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
    return end_ > 0;
  }

  std::FILE* file_;
  char buffer_[16384];
  size_t start_ = 0;
  size_t end_ = 0;
};

// What the scan saw of the file's end.
struct FileEnd {
  int32_t lastLength = 0;       // bytes in the last piece read
  bool lastEndsLine = false;    // it ends with a line feed
  bool lastEndsReturn = false;  // it ends with a carriage return
  bool crlf = false;            // the last line end seen was CR LF
};

void notePiece(FileEnd* end, const char* piece, int32_t n) {
  if (n == 0) return;
  bool endsLine = piece[n - 1] == '\n';
  if (endsLine) {
    // A CR LF split over two pieces leaves the CR at the end of the first.
    end->crlf = n >= 2 ? piece[n - 2] == '\r' : end->lastEndsReturn;
  }
  end->lastLength = n;
  end->lastEndsLine = endsLine;
  end->lastEndsReturn = piece[n - 1] == '\r';
}

// Reads the file to its end, learning the columns. False when an entry for
// the service exists or the stream failed.
bool scan(std::FILE* file, const char* name, const char* protocol, EntryColumns* columns,
          FileEnd* end) {
  PieceReader reader(file);
  char piece[kLineSize];
  int32_t n;
  while (reader.next(piece, &n)) {
    if (lineDefinesService(name, protocol, piece)) return false;
    learnColumns(columns, piece);
    notePiece(end, piece, n);
  }
  return std::ferror(file) == 0;
}

// Appends the entry at the file's end; true when it is on the disk.
// *sizeBefore receives the file's size before, or -1 when nothing was
// written. In text mode on
// Windows the C runtime hides CR before LF and "\n" is written as CR LF; the
// POSIX port reads the CR and writes the line end the file's last line has,
// so a CR LF file stays CR LF there too.
bool append(std::FILE* file, const EntryColumns& columns, const FileEnd& end,
            const EntryFields& fields, int64_t* sizeBefore) {
  char line[kLineSize];
  if (!buildEntryLine(line, kLineSize, columns, fields)) return false;
  // A last line without its line end is ended first, so that the entry
  // starts on a line of its own.
  char text[kLineSize + 2] = "";
  if (end.lastLength > 0 && !end.lastEndsLine) {
    std::strcpy(text, end.lastEndsReturn ? "\n" : fields.newline);
  }
  std::strcat(text, line);
  return sysFileAppend(file, text, sizeBefore);
}

}  // namespace

int registerService(const char* path, const char* name, int32_t port, const char* protocol,
                    const char* comment) {
  return registerServiceWaiting(kLockWaitMilliseconds, path, name, port, protocol, comment);
}

int registerServiceWaiting(uint32_t lockWaitMilliseconds, const char* path, const char* name,
                           int32_t port, const char* protocol, const char* comment) {
  EntryColumns columns;
  resetEntryColumns(&columns);
  if (path == nullptr || path[0] == '\0') return 0;
  // What cannot be written as one entry for exactly this service is not
  // written at all.
  if (!entryCanBeWritten(name, protocol, comment)) return 0;
  std::FILE* file = std::fopen(path, "r+");
  if (file == nullptr) return 0;
  // The lock is held from before the first read until the entry is on disk
  // and the file closed, so two registrations at once cannot both miss each
  // other's line, and an append whose close fails is still undone under it.
  // A file system without locks is updated without one.
  SysFileLock lock;
  if (sysFileLock(file, lockWaitMilliseconds, &lock) == SysFileLockResult::Refused) {
    std::fclose(file);
    return 0;
  }
  FileEnd end;
  int64_t sizeBefore = -1;
  bool appended =
      scan(file, name, protocol, &columns, &end) &&
      append(file, columns, end,
             EntryFields{name, port, protocol, comment, end.crlf ? "\r\n" : "\n"}, &sizeBefore);
  // A failed write, sync or close is undone in one place, under the lock.
  bool closed = sysStreamClose(file);
  if (sizeBefore >= 0 && !(appended && closed)) sysFileCutBack(&lock, sizeBefore);
  sysFileUnlock(&lock);
  return 0;
}

}  // namespace volsten
