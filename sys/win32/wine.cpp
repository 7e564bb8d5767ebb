#include <windows.h>

#include "sys/seam.h"

namespace volsten {

bool sysSeamRunsUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace volsten
