#include "sys/seam.h"

#include <cstring>

namespace volsten {
namespace {

struct DirectorySeam {
  bool familyForced = false;
  SysFamily family = SysFamily::Unknown;
  bool redirected = false;
  char directory[512] = {};
};

DirectorySeam directorySeam;

}  // namespace

void sysSeamRedirectDirectories(const char* directory) {
  DirectorySeam& s = directorySeam;
  s.redirected = false;
  s.directory[0] = '\0';
  if (directory == nullptr || std::strlen(directory) >= sizeof s.directory) return;
  std::memcpy(s.directory, directory, std::strlen(directory) + 1);
  s.redirected = true;
}

void sysSeamForceFamily(SysFamily family) {
  directorySeam.family = family;
  directorySeam.familyForced = true;
}

void sysSeamReset() { directorySeam = DirectorySeam{}; }

bool sysSeamDirectory(char* out, int32_t size, bool* copied) {
  if (!directorySeam.redirected) return false;
  size_t n = std::strlen(directorySeam.directory);
  *copied = out != nullptr && size > 0 && n < static_cast<size_t>(size);
  if (*copied) {
    std::memcpy(out, directorySeam.directory, n + 1);
  } else if (out != nullptr && size > 0) {
    out[0] = '\0';
  }
  return true;
}

bool sysSeamFamily(SysFamily* family) {
  if (!directorySeam.familyForced) return false;
  *family = directorySeam.family;
  return true;
}

}  // namespace volsten
