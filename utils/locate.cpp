#include "utils/locate.h"

#include <cstring>

#include "base/str.h"
#include "sys/directories.h"
#include "utils/options.h"
#include "utils/path_join.h"

namespace volsten {

int locateServicesFile() {
  char* path = serviceOptions().servicesPath;
  constexpr int32_t kPathSize = sizeof serviceOptions().servicesPath;
  std::memset(path, 0, kPathSize);

  char directory[512];
  const char* relative = nullptr;
  bool found = false;
  switch (sysOsFamily()) {
    case SysFamily::WindowsNt:
      found = sysSystemDirectory(directory, sizeof directory);
      relative = "drivers\\etc\\services";
      break;
    case SysFamily::Windows95:
      found = sysWindowsDirectory(directory, sizeof directory);
      relative = "services";
      break;
    case SysFamily::Posix:
      found = sysSystemDirectory(directory, sizeof directory);
      relative = "services";
      break;
    case SysFamily::Unknown: return 0;
  }
  // A failed directory query leaves nothing to join; joining an empty
  // directory would name a file relative to the current directory.
  if (!found || strTrimmedLength(directory, NTS) == 0) return 0;

  pathJoin(nullptr, directory, NTS, relative, NTS, path, kPathSize);
  // The join holds at most 511 characters: a path that long may have been
  // cut, and a cut path names some other file.
  if (strLength(path, NTS) >= kPathSize - 1) {
    std::memset(path, 0, kPathSize);
    return 0;
  }
  return 1;
}

}  // namespace volsten
