#include "server/conversation.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "base/str.h"
#include "config/code_table.h"
#include "config/request.h"
#include "net/dispatch/dispatcher.h"
#include "server/root_path.h"
#include "server/server_log.h"
#include "utils/path_join.h"

namespace volsten {
namespace {

// Server error codes, as the client maps them to errno.
constexpr int32_t kCodeNone = 0;
constexpr int32_t kCodeAccess = 1;
constexpr int32_t kCodeBadHandle = 2;
constexpr int32_t kCodeInvalid = 4;
constexpr int32_t kCodeTooMany = 5;
constexpr int32_t kCodeTooManyInSystem = 6;
constexpr int32_t kCodeNoEntry = 7;
constexpr int32_t kCodeNoMemory = 8;

constexpr int32_t kFieldSize = 1024;
constexpr int32_t kLineRoomMax = 4096;
constexpr int32_t kJoinSize = 512;

int32_t codeOfErrno(int error) {
  switch (error) {
    case EACCES: return kCodeAccess;
    case ENOENT: return kCodeNoEntry;
    case EMFILE: return kCodeTooMany;
    case ENFILE: return kCodeTooManyInSystem;
    case ENOMEM: return kCodeNoMemory;
    default: return kCodeInvalid;
  }
}

// Only reading: "r", with "b" or "t" at most once each after it.
bool isReadMode(const char* mode) {
  if (mode[0] != 'r') return false;
  bool binary = false;
  bool text = false;
  for (const char* p = mode + 1; *p != '\0'; ++p) {
    bool& seen = *p == 'b' ? binary : text;
    if ((*p != 'b' && *p != 't') || seen) return false;
    seen = true;
  }
  return true;
}

enum class Service { Base, StdIO };

struct OpenFile {
  std::FILE* stream;
  const CodeTable* table;
};

class Conversation {
 public:
  Conversation(int32_t connection, const ServerSettings& settings, int32_t number)
      : connection_(connection), settings_(settings), number_(number) {}
  ~Conversation() {
    for (OpenFile& file : files_) {
      if (file.stream != nullptr) std::fclose(file.stream);
    }
    diagFree(ctx_);
  }
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // Why the server ended the connection; null when the client ended it.
  const char* refusal() const { return refusal_; }

  void run() {
    ctx_ = diagCreate(nullptr);
    if (ctx_ == nullptr) return;
    char word[kFieldSize];
    if (!readField(word, sizeof word) || std::strcmp(word, "VOLSTEN") != 0) {
      return refuseConnection("no greeting");
    }
    if (!readField(word, sizeof word)) return refuseConnection("no service name");
    for (;;) {
      if (!startService(word)) return refuseConnection("unknown service");
      // Requests until a byte that begins a new service name.
      for (;;) {
        char code = 0;
        if (replyFailed(receive(ctx_, connection_, &code, 1))) return;
        if (static_cast<uint8_t>(code) >= 0x20) {
          word[0] = code;
          if (!readField(word + 1, sizeof word - 1)) return refuseConnection("cut service name");
          break;
        }
        if (!answer(static_cast<uint8_t>(code))) return;
        if (flushRequest(ctx_, connection_) < 0) return;
      }
    }
  }

 private:
  // A whole field that fits; false when the stream ended or failed inside
  // it, or when it was longer than the buffer (which would name another
  // file).
  bool readField(char* buffer, int32_t size) {
    if (replyFailed(getString(ctx_, connection_, nullptr, buffer, size))) return false;
    return std::strlen(buffer) < static_cast<size_t>(size - 1);
  }
  bool readNumber(int32_t* value) {
    *value = getNumber(ctx_, connection_, nullptr);
    return !replyFailed(diagStatus(ctx_));
  }
  void putText(const char* text) { putString(ctx_, connection_, nullptr, text, NTS); }
  void putValue(int32_t value) { putNumber(ctx_, connection_, nullptr, value); }

  // Why the server ended the connection, for its one log line.
  void refuseConnection(const char* why) { refusal_ = why; }
  // The client's name is shown cut and with control characters replaced,
  // so that no client writes escape sequences into the log.
  void refuseRequest(const char* what, const char* name, const char* why) {
    if (settings_.quiet) return;
    char shown[128];
    size_t n = 0;
    for (; n + 1 < sizeof shown && name[n] != '\0'; ++n) {
      auto c = static_cast<unsigned char>(name[n]);
      shown[n] = c < 0x20 || c == 0x7F ? '?' : name[n];
    }
    shown[n] = '\0';
    serverLog("connection %d: %s \"%s\" refused: %s", number_, what, shown, why);
  }

  bool startService(const char* name) {
    if (std::strcmp(name, "Base") == 0) {
      service_ = Service::Base;
    } else if (std::strcmp(name, "StdIO") == 0) {
      service_ = Service::StdIO;
    } else {
      return false;
    }
    return true;
  }

  // One request; false ends the connection.
  bool answer(uint8_t code) {
    if (service_ == Service::Base) {
      if (code == 0) return true;  // finish: no reply
      if (code == 5) return join();
    } else {
      switch (code) {
        case 1: return open();
        case 2: return close();
        case 5: return readLine();
        case 7: return setTranslation();
        default: break;
      }
    }
    refuseConnection("unknown request code");
    return false;
  }

  // "Base" 5: directory and name joined by the local rule; a join that
  // does not fit answers an error record instead.
  bool join() {
    char directory[kFieldSize];
    char name[kFieldSize];
    if (!readField(directory, sizeof directory) || !readField(name, sizeof name)) return false;
    DiagContext* result = diagCreate(nullptr);
    char joined[kJoinSize];
    pathJoinLocal(result, directory, NTS, name, NTS, joined, sizeof joined);
    bool cut = diagStatus(result) != STATUS_SUCCESS;
    diagFree(result);
    putText(cut ? "" : joined);
    if (cut) {
      refuseRequest("join of", directory, "too long");
      putValue(STATUS_ERROR);
      putValue(0);
      putValue(SEVERITY_ERROR);
      putText("01004");
      putValue(0);
      putText("Daten wurden abgeschnitten ");
    } else {
      putValue(STATUS_SUCCESS);
    }
    putValue(1);
    return true;
  }

  OpenFile* fileOf(const char* handle) {
    int32_t slot = 0;
    for (const char* p = handle; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9' || slot > kMaxOpenFiles) return nullptr;
      slot = slot * 10 + (*p - '0');
    }
    if (handle[0] == '0' || slot < 1 || slot > kMaxOpenFiles) return nullptr;
    OpenFile* file = &files_[slot - 1];
    return file->stream != nullptr ? file : nullptr;
  }

  // "StdIO" 1: the handle ("0" when refused) and an error code.
  bool open() {
    char path[kFieldSize];
    char mode[kFieldSize];
    if (!readField(path, sizeof path) || !readField(mode, sizeof mode)) return false;
    int32_t code = openFile(path, mode);
    if (code != kCodeNone) {
      putText("0");
    } else {
      char handle[16];
      strFormat(handle, sizeof handle, "%d", lastOpened_ + 1);
      putText(handle);
    }
    putValue(code);
    return true;
  }
  int32_t openFile(const char* path, const char* mode) {
    if (!isReadMode(mode)) {
      refuseRequest("open of", path, "not a read mode");
      return kCodeAccess;
    }
    auto free = std::find_if(files_, files_ + kMaxOpenFiles,
                             [](const OpenFile& f) { return f.stream == nullptr; });
    if (free == files_ + kMaxOpenFiles) {
      refuseRequest("open of", path, "too many open files");
      return kCodeTooMany;
    }
    char full[kServerRootSize + kFieldSize];
    switch (resolveUnderRoot(settings_.root, path, full, sizeof full)) {
      case RootPath::Refused:
        refuseRequest("open of", path, "outside the root");
        return kCodeAccess;
      case RootPath::Missing: refuseRequest("open of", path, "no such file"); return kCodeNoEntry;
      case RootPath::Allowed: break;
    }
    std::FILE* stream = std::fopen(full, mode);
    if (stream == nullptr) {
      int error = errno;
      refuseRequest("open of", path, std::strerror(error));
      return codeOfErrno(error);
    }
    *free = OpenFile{stream, nullptr};
    lastOpened_ = static_cast<int32_t>(free - files_);
    return kCodeNone;
  }

  // "StdIO" 2: result and error code.
  bool close() {
    char handle[kFieldSize];
    if (!readField(handle, sizeof handle)) return false;
    OpenFile* file = fileOf(handle);
    int closed = file != nullptr ? std::fclose(file->stream) : 1;
    if (file != nullptr) *file = OpenFile{};
    putValue(closed == 0 ? 0 : 1);
    putValue(file == nullptr ? kCodeBadHandle : closed == 0 ? kCodeNone : kCodeInvalid);
    return true;
  }

  // "StdIO" 5: result, error code, and for a line its room and the line.
  bool readLine() {
    int32_t room = 0;
    char handle[kFieldSize];
    if (!readNumber(&room) || !readField(handle, sizeof handle)) return false;
    OpenFile* file = fileOf(handle);
    char line[kLineRoomMax];
    room = std::clamp(room, 2, kLineRoomMax);
    bool read = file != nullptr && std::fgets(line, room, file->stream) != nullptr;
    if (!read) {
      putValue(0);
      putValue(file == nullptr                  ? kCodeBadHandle
               : std::ferror(file->stream) != 0 ? kCodeInvalid
                                                : kCodeNone);
      return true;
    }
    if (file->table != nullptr) translateInboundText(file->table, line, NTS, line, room);
    // The field cannot carry a NUL: a line holding one ends there.
    putValue(1);
    putValue(kCodeNone);
    putValue(static_cast<int32_t>(std::strlen(line)) + 1);
    putText(line);
    return true;
  }

  // "StdIO" 7: a code table under the root for the lines of the file.
  bool setTranslation() {
    char name[kFieldSize];
    char handle[kFieldSize];
    if (!readField(name, sizeof name) || !readField(handle, sizeof handle)) return false;
    OpenFile* file = fileOf(handle);
    int32_t code = kCodeNone;
    if (file == nullptr) {
      code = kCodeBadHandle;
    } else {
      char full[kServerRootSize + kFieldSize];
      const CodeTable* table = nullptr;
      if (resolveUnderRoot(settings_.root, name, full, sizeof full) == RootPath::Allowed) {
        table = getCodeTable(full);
      }
      if (table == nullptr) {
        refuseRequest("code table", name, "not found under the root");
        code = kCodeNoEntry;
      }
      file->table = table;
    }
    putValue(code == kCodeNone ? 0 : 1);
    putValue(code);
    return true;
  }

  int32_t connection_;
  const ServerSettings& settings_;
  int32_t number_;
  DiagContext* ctx_ = nullptr;
  Service service_ = Service::Base;
  OpenFile files_[kMaxOpenFiles] = {};
  int32_t lastOpened_ = 0;
  const char* refusal_ = nullptr;
};

std::atomic<int32_t> connectionCount{0};

}  // namespace

void serveConnection(int32_t connection, const ServerSettings& settings) {
  int32_t number = ++connectionCount;
  Conversation conversation(connection, settings, number);
  conversation.run();
  if (settings.quiet) return;
  if (conversation.refusal() != nullptr) {
    serverLog("connection %d: ended by the server: %s", number, conversation.refusal());
  } else {
    serverLog("connection %d: ended", number);
  }
}

void serveAcceptedConnection(int32_t connection, uintptr_t userData) {
  serveConnection(connection, *reinterpret_cast<const ServerSettings*>(userData));
}

}  // namespace volsten
