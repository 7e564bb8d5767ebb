#include "utils/path_join.h"

#include <cstring>

#include "base/str.h"
#include "config/server_path.h"
#include "sys/directories.h"

namespace volsten {
namespace {

constexpr int32_t kWorkSize = 512;
constexpr int32_t kServerSize = 256;

// A directory //server/rest whose server has a "Connect" value in the
// profile is joined by that server: "//", the server, "/" and its answer,
// with "/" in those places whatever the directory used. False for every
// other directory, which takes the local rule.
bool joinOnServer(DiagContext* diag, const char* directory, int32_t directoryLength,
                  const char* name, int32_t nameLength, char* out, int32_t outSize) {
  char rest[kWorkSize];
  char server[kServerSize];
  splitServerPath(directory, directoryLength, rest, sizeof rest, server, sizeof server);
  if (!hasServerConnect(server, NTS)) return false;
  char joined[kWorkSize];
  resolveBase(diag, server, rest, strTrimmedLength(rest, NTS), name, nameLength, joined,
              sizeof joined);
  char result[kWorkSize];
  strCopy(diag, result, kWorkSize, "//", NTS);
  strAppend(diag, result, kWorkSize, NTS, server, NTS);
  strAppend(diag, result, kWorkSize, NTS, "/", NTS);
  strAppend(diag, result, kWorkSize, NTS, joined, NTS);
  strCopy(diag, out, outSize, result, NTS);
  return true;
}

}  // namespace

Status pathJoin(DiagContext* diag, const char* directory, int32_t directoryLength, const char* name,
                int32_t nameLength, char* out, int32_t outSize) {
  if (out != nullptr && outSize > 0) std::memset(out, 0, static_cast<size_t>(outSize));
  if (joinOnServer(diag, directory, directoryLength, name, nameLength, out, outSize)) {
    return diagStatus(diag);
  }
  return pathJoinLocal(diag, directory, directoryLength, name, nameLength, out, outSize);
}

Status pathJoinLocal(DiagContext* diag, const char* directory, int32_t directoryLength,
                     const char* name, int32_t nameLength, char* out, int32_t outSize) {
  if (out != nullptr && outSize > 0) std::memset(out, 0, static_cast<size_t>(outSize));
  char work[kWorkSize];
  strCopy(diag, work, kWorkSize, directory, directoryLength);
  if (strTrimmedLength(name, nameLength) > 0) {
    int32_t directoryUsed = strTrimmedLength(work, NTS);
    if (directoryUsed > 0) {
      if (!isPathSeparator(work[directoryUsed - 1])) {
        const char separator[] = {sysPathSeparator(), '\0'};
        strAppend(diag, work, kWorkSize, NTS, separator, 1);
      }
      int32_t rest = strLength(name, nameLength);
      const char* start = name;
      while (rest > 0 && isPathSeparator(*start)) {
        ++start;
        --rest;
      }
      strAppend(diag, work, kWorkSize, NTS, start, rest);
    } else {
      strAppend(diag, work, kWorkSize, NTS, name, nameLength);
    }
  }
  strCopy(diag, out, outSize, work, NTS);
  return diagStatus(diag);
}

}  // namespace volsten
