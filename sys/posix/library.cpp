#include "sys/library.h"

#include <cerrno>
#include <cstring>

#include "sys/ascii_compare.h"
#include "sys/posix/socket_exports.h"
#include "sys/seam.h"

namespace volsten {
namespace {

// The one library there is; its address is the handle.
const char kSocketLibrary = 0;

constexpr const char* kSocketLibraryNames[] = {"WS2_32.DLL", "WSOCK32.DLL", "WSOCK32N.DLL"};

}  // namespace

SysLibrary sysLibraryLoad(const char* name) {
  if (name == nullptr) {
    errno = ENOENT;
    return nullptr;
  }
  if (sysSeamLibraryRefused(name)) return nullptr;
  for (const char* known : kSocketLibraryNames) {
    if (sysSameAsciiText(known, name)) return const_cast<char*>(&kSocketLibrary);
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
