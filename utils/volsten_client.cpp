#include "utils/volsten_client.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "base/list.h"
#include "base/str.h"
#include "config/file_channel.h"
#include "config/profile.h"
#include "sys/console_text.h"
#include "utils/path_join.h"

namespace volsten {
namespace {

constexpr const char* kUsage =
    "usage: volsten cat PATH...\n"
    "       volsten join DIRECTORY NAME\n"
    "       volsten profile [SECTION [KEY]]\n";

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// Each record as "SQLSTATE native message", in the terminal's characters.
void showRecords(DiagContext* diag) {
  for (void* p = listMove(diag->records, LIST_FIRST, nullptr); p != nullptr;
       p = listMove(diag->records, LIST_NEXT, nullptr)) {
    auto* record = static_cast<DiagRecord*>(p);
    // System texts end in their own line end, which one line replaces.
    char message[kDiagMessageMax + 1];
    strCopy(nullptr, message, sizeof message, record->message, NTS);
    size_t n = std::strlen(message);
    while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n')) message[--n] = '\0';
    std::fprintf(stderr, "%s %d ", record->state, record->native);
    sysWriteText(stderr, message);
    std::fputc('\n', stderr);
  }
}

// A failure the file channel reports through errno only.
void showSystemError(const char* path, int error) {
  std::fprintf(stderr, "volsten: %s: %s\n", path, std::strerror(error));
}

bool catOne(const char* path) {
  DiagContext* report = diagCreate(nullptr);
  FileChannel* channel = openChannelReporting(path, "r", report);
  int error = errno;
  if (channel == nullptr) {
    showRecords(report);
    showSystemError(path, error);
  }
  diagFree(report);
  if (channel == nullptr) return false;
  char line[4096];
  errno = 0;
  while (readChannelLine(line, sizeof line, channel) != nullptr) std::fputs(line, stdout);
  // The end of the file reads with errno 0; anything else cut the file.
  error = errno;
  bool closed = closeChannel(channel) == 0;
  if (error != 0 || !closed) showSystemError(path, error != 0 ? error : errno);
  return error == 0 && closed;
}

int cat(int count, char** paths) {
  if (count == 0) return kUsageError;
  int result = 0;
  for (int i = 0; i < count; ++i) {
    if (!catOne(paths[i])) result = kFailed;
  }
  return result;
}

int join(int count, char** words) {
  if (count != 2) return kUsageError;
  DiagContext* diag = diagCreate(nullptr);
  char out[512];
  Status status = pathJoin(diag, words[0], NTS, words[1], NTS, out, sizeof out);
  std::printf("%s\n", out);
  showRecords(diag);
  diagFree(diag);
  return status < 0 || status == STATUS_NO_DATA ? kFailed : 0;
}

// A list is NUL-separated names ending in an empty one.
int profile(int count, char** words) {
  if (count > 2) return kUsageError;
  const char* section = count > 0 ? words[0] : "";
  const char* key = count > 1 ? words[1] : "";
  static char buffer[32768];
  int32_t length = getProfileString(section, key, "", buffer, sizeof buffer, kProfileName);
  if (count == 2) {
    if (length == 0) return kFailed;
    std::printf("%s\n", buffer);
    return 0;
  }
  for (const char* name = buffer; *name != '\0'; name += std::strlen(name) + 1) {
    std::printf("%s\n", name);
  }
  return 0;
}

}  // namespace

int volstenMain(int argc, char** argv) {
  int result = kUsageError;
  if (argc >= 2) {
    const char* command = argv[1];
    if (std::strcmp(command, "cat") == 0) {
      result = cat(argc - 2, argv + 2);
    } else if (std::strcmp(command, "join") == 0) {
      result = join(argc - 2, argv + 2);
    } else if (std::strcmp(command, "profile") == 0) {
      result = profile(argc - 2, argv + 2);
    }
  }
  if (result == kUsageError) std::fputs(kUsage, stderr);
  std::fflush(stdout);
  return result;
}

}  // namespace volsten
