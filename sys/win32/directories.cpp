#include "sys/directories.h"

#include <windows.h>

#include <cstring>

#include "sys/fault.h"
#include "sys/seam.h"

namespace volsten {
namespace {

// The version record is passed with the size of the ANSI layout, 148 bytes.
static_assert(sizeof(OSVERSIONINFOA) == 148);

using DirectoryQuery = UINT(WINAPI*)(LPSTR, UINT);

bool queryDirectory(DirectoryQuery query, SysDirectory which, FaultPoint point, char* out,
                    int32_t size) {
  if (out == nullptr || size <= 0) return false;
  out[0] = '\0';
  if (bool copied; sysSeamDirectory(which, out, size, &copied)) return copied;
  if (faultShouldFail(point)) return false;
  // 0 is a failure; a value of size or more is the size the directory would
  // need, and the buffer then holds nothing usable.
  UINT n = query(out, static_cast<UINT>(size));
  if (n == 0 || n >= static_cast<UINT>(size)) {
    out[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

SysFamily sysOsFamily() {
  if (SysFamily forced; sysSeamFamily(&forced)) return forced;
  if (faultShouldFail(FaultPoint::VersionQuery)) return SysFamily::Unknown;
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = 148;
  if (!GetVersionExA(&info)) return SysFamily::Unknown;
  switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_NT: return SysFamily::WindowsNt;
    case VER_PLATFORM_WIN32_WINDOWS: return SysFamily::Windows95;
    default: return SysFamily::Unknown;
  }
}

bool sysSystemDirectory(char* out, int32_t size) {
  return queryDirectory(GetSystemDirectoryA, SysDirectory::System, FaultPoint::SystemDirectory, out,
                        size);
}

bool sysWindowsDirectory(char* out, int32_t size) {
  return queryDirectory(GetWindowsDirectoryA, SysDirectory::Windows, FaultPoint::WindowsDirectory,
                        out, size);
}

char sysPathSeparator() { return '\\'; }

}  // namespace volsten
