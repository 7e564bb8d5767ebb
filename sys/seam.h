// Test seam for sys/directories.h. A redirected directory replaces both the
// system and the Windows directory (null restores them); a forced family
// replaces the version query's answer; sysSeamReset undoes both. Production
// code never calls the setters.
#pragma once

#include <cstdint>

#include "sys/directories.h"

namespace volsten {

void sysSeamRedirectDirectories(const char* directory);
void sysSeamForceFamily(SysFamily family);
void sysSeamReset();

// For the backends. True when the directories are redirected; *copied then
// tells whether the redirected directory fit into out (out is empty if not).
bool sysSeamDirectory(char* out, int32_t size, bool* copied);
// True when the family is forced, which is then in *family.
bool sysSeamFamily(SysFamily* family);

}  // namespace volsten
