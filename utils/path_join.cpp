#include "utils/path_join.h"

#include <cstring>

#include "base/str.h"
#include "sys/directories.h"

namespace volsten {
namespace {

constexpr int32_t kWorkSize = 512;

}  // namespace

Status pathJoin(DiagContext* diag, const char* directory, int32_t directoryLength, const char* name,
                int32_t nameLength, char* out, int32_t outSize) {
  if (out != nullptr && outSize > 0) std::memset(out, 0, static_cast<size_t>(outSize));

  // Server paths join here. A directory of the form //server/path whose server
  // has a "Connect" value in the profile is joined by that server, and its
  // result returned at this point; every other directory, and every directory
  // while no server is configured, takes the local rule below.

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
