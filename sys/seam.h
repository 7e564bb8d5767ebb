// Test seams of the platform layer, switched on by tests at run time and
// never by production code: redirected system and Windows directories, a
// forced operating-system family, and a hook inside every child start.
// sysSeamReset undoes them all.
#pragma once

#include <cstdint>

#include "sys/directories.h"

namespace volsten {

// Replaces the system and the Windows directory, each on its own (null
// restores the real one).
void sysSeamRedirectDirectories(const char* systemDirectory, const char* windowsDirectory);
// Replaces the version query's answer.
void sysSeamForceFamily(SysFamily family);

// Run by every child start, on the starting thread, while the start holds
// its pipes open and inheritable: the moment at which a child that another
// thread starts could inherit them. The caller keeps the hook alive while it
// is set; null removes it.
struct SysChildStartHook {
  void (*run)(void* user);
  void* user;
};
void sysSeamSetChildStartHook(const SysChildStartHook* hook);

void sysSeamReset();

// For the backends. True when that directory is redirected; *copied then
// tells whether the redirected directory fit into out (out is empty if not).
enum class SysDirectory { System, Windows };
bool sysSeamDirectory(SysDirectory which, char* out, int32_t size, bool* copied);
// True when the family is forced, which is then in *family.
bool sysSeamFamily(SysFamily* family);
// Runs the child-start hook, if one is set.
void sysSeamChildStarting();

}  // namespace volsten
