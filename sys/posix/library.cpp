#include "sys/library.h"

#include <cerrno>
#include <cstring>

#include "sys/posix/socket_exports.h"
#include "sys/seam.h"

namespace volsten {
namespace {

// The one library there is; its address is the handle.
const char kSocketLibrary = 0;

constexpr const char* kSocketLibraryNames[] = {"WS2_32.DLL", "WSOCK32.DLL", "WSOCK32N.DLL"};

// Windows compares library names without regard to case.
bool sameName(const char* a, const char* b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  for (; upper(*a) == upper(*b); ++a, ++b) {
    if (*a == '\0') return true;
  }
  return false;
}

}  // namespace

SysLibrary sysLibraryLoad(const char* name) {
  if (name == nullptr) {
    errno = ENOENT;
    return nullptr;
  }
  if (sysSeamLibraryRefused(name)) return nullptr;
  for (const char* known : kSocketLibraryNames) {
    if (sameName(known, name)) return const_cast<char*>(&kSocketLibrary);
  }
  errno = ENOENT;
  return nullptr;
}

void* sysLibraryExport(SysLibrary library, const char* name) {
  if (name == nullptr) return nullptr;
  if (void* address; sysSeamExportOverride(name, &address)) return address;
  if (library != &kSocketLibrary) return nullptr;
  return socketLibraryExport(name);
}

void sysLibraryFree(SysLibrary) { sysSeamLibraryFreed(); }

}  // namespace volsten
