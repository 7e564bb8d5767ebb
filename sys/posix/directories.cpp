#include "sys/directories.h"

#include <cstring>

#include "sys/fault.h"
#include "sys/seam.h"

namespace volsten {
namespace {

// The POSIX port keeps the services file and the profile in /etc.
constexpr char kEtc[] = "/etc";

bool queryDirectory(SysDirectory which, FaultPoint point, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return false;
  out[0] = '\0';
  if (bool copied; sysSeamDirectory(which, out, size, &copied)) return copied;
  if (faultShouldFail(point) || static_cast<int32_t>(sizeof kEtc) > size) return false;
  std::memcpy(out, kEtc, sizeof kEtc);
  return true;
}

}  // namespace

SysFamily sysOsFamily() {
  if (SysFamily forced; sysSeamFamily(&forced)) return forced;
  if (faultShouldFail(FaultPoint::VersionQuery)) return SysFamily::Unknown;
  return SysFamily::Posix;
}

bool sysSystemDirectory(char* out, int32_t size) {
  return queryDirectory(SysDirectory::System, FaultPoint::SystemDirectory, out, size);
}

bool sysWindowsDirectory(char* out, int32_t size) {
  return queryDirectory(SysDirectory::Windows, FaultPoint::WindowsDirectory, out, size);
}

char sysPathSeparator() { return '/'; }

}  // namespace volsten
