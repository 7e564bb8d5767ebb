// The operating-system family and the directories the services file and the
// profile live in.
#pragma once

#include <cstdint>

namespace volsten {

// The Windows families are the platform ids of the version query; the POSIX
// port is a family of its own whose directories are both /etc.
enum class SysFamily : int32_t { Unknown = 0, Windows95 = 1, WindowsNt = 2, Posix = 3 };

// Unknown when the version query fails or names another platform.
SysFamily sysOsFamily();

// Copy the system or Windows directory into out (size bytes, NUL-terminated).
// False when the system call fails or the directory does not fit; out is
// then empty.
bool sysSystemDirectory(char* out, int32_t size);
bool sysWindowsDirectory(char* out, int32_t size);

// The separator a path join puts between a directory and a name: backslash
// on Windows, slash on POSIX.
char sysPathSeparator();

// The test seam that redirects the directories and forces a family is in
// sys/seam.h.

}  // namespace volsten
