#include "sys/path_place.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>

namespace volsten {

SysPathPlace sysPathPlace(const char* root, const char* path) {
  char realRoot[PATH_MAX];
  char realPath[PATH_MAX];
  if (realpath(root, realRoot) == nullptr || realpath(path, realPath) == nullptr) {
    return SysPathPlace::Missing;
  }
  size_t n = std::strlen(realRoot);
  // The root "/" ends in its separator already.
  bool separated = n > 0 && realRoot[n - 1] == '/';
  bool inside = std::strncmp(realPath, realRoot, n) == 0 &&
                (separated ? realPath[n] != '\0' : realPath[n] == '/' && realPath[n + 1] != '\0');
  return inside ? SysPathPlace::Inside : SysPathPlace::Outside;
}

bool sysIsDirectory(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace volsten
