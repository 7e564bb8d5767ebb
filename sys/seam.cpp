#include "sys/seam.h"

#include <atomic>
#include <cstring>

namespace volsten {
namespace {

struct Redirection {
  bool on = false;
  char directory[512] = {};
};

struct DirectorySeam {
  bool familyForced = false;
  SysFamily family = SysFamily::Unknown;
  Redirection system;
  Redirection windows;
};

DirectorySeam directorySeam;

// Child starts may run on any thread.
std::atomic<const SysChildStartHook*> childStartHook{nullptr};

void redirect(Redirection* r, const char* directory) {
  *r = Redirection{};
  if (directory == nullptr || std::strlen(directory) >= sizeof r->directory) return;
  std::memcpy(r->directory, directory, std::strlen(directory) + 1);
  r->on = true;
}

}  // namespace

void sysSeamRedirectDirectories(const char* systemDirectory, const char* windowsDirectory) {
  redirect(&directorySeam.system, systemDirectory);
  redirect(&directorySeam.windows, windowsDirectory);
}

void sysSeamForceFamily(SysFamily family) {
  directorySeam.family = family;
  directorySeam.familyForced = true;
}

void sysSeamSetChildStartHook(const SysChildStartHook* hook) {
  childStartHook.store(hook, std::memory_order_release);
}

void sysSeamReset() {
  directorySeam = DirectorySeam{};
  sysSeamSetChildStartHook(nullptr);
  sysSeamResetLibraries();
}

bool sysSeamDirectory(SysDirectory which, char* out, int32_t size, bool* copied) {
  const Redirection& r =
      which == SysDirectory::System ? directorySeam.system : directorySeam.windows;
  if (!r.on) return false;
  size_t n = std::strlen(r.directory);
  *copied = out != nullptr && size > 0 && n < static_cast<size_t>(size);
  if (*copied) {
    std::memcpy(out, r.directory, n + 1);
  } else if (out != nullptr && size > 0) {
    out[0] = '\0';
  }
  return true;
}

bool sysSeamFamily(SysFamily* family) {
  if (!directorySeam.familyForced) return false;
  *family = directorySeam.family;
  return true;
}

void sysSeamChildStarting() {
  const SysChildStartHook* hook = childStartHook.load(std::memory_order_acquire);
  if (hook != nullptr) hook->run(hook->user);
}

}  // namespace volsten
