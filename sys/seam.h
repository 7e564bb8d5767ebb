// Test seam for sys/directories.h. A redirected directory replaces both the
// system and the Windows directory (null restores them); a forced family
// replaces the version query's answer; sysSeamReset undoes both. Production
// code never calls these. Header-only, so both backends read the same
// process-wide values without a shared source file.
#pragma once

#include <cstring>

#include "sys/directories.h"

namespace volsten::seam {

struct DirectorySeam {
  bool familyForced = false;
  SysFamily family = SysFamily::Unknown;
  bool redirected = false;
  char directory[512] = {};
};

inline DirectorySeam directorySeam;

// Copies the redirected directory into out; false when it does not fit.
inline bool copyRedirected(char* out, int32_t size) {
  size_t n = std::strlen(directorySeam.directory);
  if (out == nullptr || size <= 0) return false;
  out[0] = '\0';
  if (n >= static_cast<size_t>(size)) return false;
  std::memcpy(out, directorySeam.directory, n + 1);
  return true;
}

}  // namespace volsten::seam

namespace volsten {

inline void sysSeamRedirectDirectories(const char* directory) {
  seam::DirectorySeam& s = seam::directorySeam;
  s.redirected = false;
  s.directory[0] = '\0';
  if (directory == nullptr || std::strlen(directory) >= sizeof s.directory) return;
  std::memcpy(s.directory, directory, std::strlen(directory) + 1);
  s.redirected = true;
}

inline void sysSeamForceFamily(SysFamily family) {
  seam::directorySeam.family = family;
  seam::directorySeam.familyForced = true;
}

inline void sysSeamReset() { seam::directorySeam = seam::DirectorySeam{}; }

}  // namespace volsten
