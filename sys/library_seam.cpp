// The library and message-box seams. Loads may happen on any thread, so the
// state is kept under one lock.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "sys/ascii_compare.h"
#include "sys/seam.h"

namespace volsten {
namespace {

constexpr int32_t kSeamNames = 8;

struct Override {
  char name[32];
  void* address;
};

struct LibrarySeam {
  int32_t refusedCount = 0;
  char refused[kSeamNames][32] = {};
  int32_t overrideCount = 0;
  Override overrides[kSeamNames] = {};
  SysLibraryLog log = {};
  SysMessageCapture* capture = nullptr;
};

std::mutex seamLock;
LibrarySeam seam;

void copyCut(char* to, size_t size, const char* from) {
  size_t n = from == nullptr ? 0 : std::min(std::strlen(from), size - 1);
  if (n > 0) std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

void sysSeamRefuseLibraries(const char* const* names, int32_t count) {
  std::lock_guard<std::mutex> hold(seamLock);
  seam.refusedCount = std::clamp(count, 0, kSeamNames);
  for (int32_t i = 0; i < seam.refusedCount; ++i) {
    copyCut(seam.refused[i], sizeof seam.refused[i], names[i]);
  }
}

void sysSeamOverrideExports(const SysExportOverride* overrides, int32_t count) {
  std::lock_guard<std::mutex> hold(seamLock);
  seam.overrideCount = std::clamp(count, 0, kSeamNames);
  for (int32_t i = 0; i < seam.overrideCount; ++i) {
    copyCut(seam.overrides[i].name, sizeof seam.overrides[i].name, overrides[i].name);
    seam.overrides[i].address = overrides[i].address;
  }
}

SysLibraryLog sysSeamLibraryLog() {
  std::lock_guard<std::mutex> hold(seamLock);
  return seam.log;
}

void sysSeamClearLibraryLog() {
  std::lock_guard<std::mutex> hold(seamLock);
  seam.log = SysLibraryLog{};
}

void sysSeamCaptureMessages(SysMessageCapture* capture) {
  std::lock_guard<std::mutex> hold(seamLock);
  seam.capture = capture;
}

bool sysSeamLibraryRefused(const char* name) {
  std::lock_guard<std::mutex> hold(seamLock);
  SysLibraryLog& log = seam.log;
  ++log.loads;
  if (log.tried < kSeamNames) copyCut(log.names[log.tried++], sizeof log.names[0], name);
  for (int32_t i = 0; i < seam.refusedCount; ++i) {
    if (sysSameAsciiText(seam.refused[i], name)) return true;
  }
  return false;
}

bool sysSeamExportOverride(const char* name, void** address) {
  std::lock_guard<std::mutex> hold(seamLock);
  ++seam.log.exports;
  for (int32_t i = 0; i < seam.overrideCount; ++i) {
    if (std::strcmp(seam.overrides[i].name, name) == 0) {
      *address = seam.overrides[i].address;
      return true;
    }
  }
  return false;
}

void sysSeamLibraryFreed() {
  std::lock_guard<std::mutex> hold(seamLock);
  ++seam.log.frees;
}

bool sysSeamMessageCaptured(const char* text, const char* caption) {
  std::lock_guard<std::mutex> hold(seamLock);
  if (seam.capture == nullptr) return false;
  ++seam.capture->shown;
  copyCut(seam.capture->text, sizeof seam.capture->text, text);
  copyCut(seam.capture->caption, sizeof seam.capture->caption, caption);
  return true;
}

void sysSeamResetLibraries() {
  std::lock_guard<std::mutex> hold(seamLock);
  seam = LibrarySeam{};
}

}  // namespace volsten
