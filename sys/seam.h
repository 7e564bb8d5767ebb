// Test seams of the platform layer, switched on by tests at run time and
// never by production code: redirected system and Windows directories, a
// forced operating-system family, a hook inside every child start, library
// loads that fail or lack exports, and captured message boxes. sysSeamReset
// undoes them all.
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

// Library loads. A refused name does not load, as if its file were missing;
// an export with an override resolves to the override's address (null: the
// library lacks it). Both lists are copied, up to 8 names each, and replace
// the lists set before.
struct SysExportOverride {
  const char* name;
  void* address;
};
void sysSeamRefuseLibraries(const char* const* names, int32_t count);
void sysSeamOverrideExports(const SysExportOverride* overrides, int32_t count);

// Every library call made since the log was last cleared, with the names
// that loads tried, in order (the first 8).
struct SysLibraryLog {
  int32_t loads;
  int32_t exports;
  int32_t frees;
  int32_t tried;
  char names[8][16];
};
SysLibraryLog sysSeamLibraryLog();
void sysSeamClearLibraryLog();

// Message boxes go into *capture instead of onto the screen: the count, and
// the text and caption of the last one (cut to fit). Null shows them again.
struct SysMessageCapture {
  int32_t shown;
  char text[64];
  char caption[64];
};
void sysSeamCaptureMessages(SysMessageCapture* capture);

void sysSeamReset();

// True when the Windows backend runs under wine, which accepts some of the
// system's checks without making them (tests name what it cannot show).
bool sysSeamRunsUnderWine();

// For the backends. True when that directory is redirected; *copied then
// tells whether the redirected directory fit into out (out is empty if not).
enum class SysDirectory { System, Windows };
bool sysSeamDirectory(SysDirectory which, char* out, int32_t size, bool* copied);
// True when the family is forced, which is then in *family.
bool sysSeamFamily(SysFamily* family);
// Runs the child-start hook, if one is set.
void sysSeamChildStarting();
// Logs a load of name; true when the load must fail.
bool sysSeamLibraryRefused(const char* name);
// Logs an export resolution; true when *address holds an override.
bool sysSeamExportOverride(const char* name, void** address);
void sysSeamLibraryFreed();
// True when the message was captured and must not be shown.
bool sysSeamMessageCaptured(const char* text, const char* caption);
// Undoes the library and message seams (part of sysSeamReset).
void sysSeamResetLibraries();

}  // namespace volsten
