#include "sys/library.h"

#include <windows.h>

#include "sys/seam.h"

namespace volsten {

SysLibrary sysLibraryLoad(const char* name) {
  if (sysSeamLibraryRefused(name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadLibraryA(name);
}

void* sysLibraryExport(SysLibrary library, const char* name) {
  void* address = nullptr;
  if (sysSeamExportOverride(name, &address)) return address;
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void sysLibraryFree(SysLibrary library) {
  sysSeamLibraryFreed();
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace volsten
