#include "sys/path_place.h"

#include <windows.h>

#include <cstring>

#include "sys/ascii_compare.h"

namespace volsten {
namespace {

// The final path of an existing file or directory, links followed, in the
// "\\?\C:\dir\file" form the system gives for every path alike.
bool finalPath(const char* path, char* out, DWORD size) {
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD n = GetFinalPathNameByHandleA(file, out, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(file);
  return n > 0 && n < size;
}

bool sameAsciiPrefix(const char* text, const char* prefix, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (sysAsciiUpper(text[i]) != sysAsciiUpper(prefix[i])) return false;
  }
  return true;
}

}  // namespace

SysPathPlace sysPathPlace(const char* root, const char* path) {
  char realRoot[MAX_PATH * 4];
  char realPath[MAX_PATH * 4];
  if (!finalPath(root, realRoot, sizeof realRoot) || !finalPath(path, realPath, sizeof realPath)) {
    return SysPathPlace::Missing;
  }
  size_t n = std::strlen(realRoot);
  bool separated = n > 0 && realRoot[n - 1] == '\\';
  bool inside = std::strlen(realPath) > n + (separated ? 0 : 1) &&
                sameAsciiPrefix(realPath, realRoot, n) && (separated || realPath[n] == '\\');
  return inside ? SysPathPlace::Inside : SysPathPlace::Outside;
}

bool sysIsDirectory(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace volsten
