#include "sys/named_pipe.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

namespace volsten {
namespace {

// Full control for the system, administrators and the pipe's owner (the
// server's own account, which creates the further instances); for every
// other authenticated user reading and writing data, but not
// FILE_CREATE_PIPE_INSTANCE (FILE_APPEND_DATA), so that no other account
// can pose as the server. Anonymous logons are not authenticated users and
// get nothing. Protected: nothing is inherited.
constexpr char kPipeAccess[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)(A;;0x12019b;;;AU)";

// What a client asks for: exactly what the pipe grants other users.
constexpr DWORD kClientAccess = GENERIC_READ | FILE_WRITE_DATA;

constexpr DWORD kBufferBytes = 4096;

HANDLE handleOf(SysNamedPipe pipe) { return reinterpret_cast<HANDLE>(pipe); }

// Keeps the last error across the clean-up calls that follow a failure.
class LastError {
 public:
  LastError() : code_(GetLastError()) {}
  ~LastError() { SetLastError(code_); }
  LastError(const LastError&) = delete;
  LastError& operator=(const LastError&) = delete;

 private:
  DWORD code_;
};

// One overlapped operation with its own manual-reset event, closed when the
// operation is done.
class Overlapped {
 public:
  Overlapped() { overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() {
    if (overlapped_.hEvent != nullptr) {
      LastError kept;
      CloseHandle(overlapped_.hEvent);
    }
  }
  Overlapped(const Overlapped&) = delete;
  Overlapped& operator=(const Overlapped&) = delete;

  bool ready() const { return overlapped_.hEvent != nullptr; }
  OVERLAPPED* get() { return &overlapped_; }
  // A close of the handle from another thread completes the operation, so
  // the wait has no limit.
  void wait() { WaitForSingleObject(overlapped_.hEvent, INFINITE); }
  bool result(HANDLE pipe, DWORD* count) {
    return GetOverlappedResult(pipe, &overlapped_, count, FALSE) != 0;
  }

 private:
  OVERLAPPED overlapped_{};
};

// A peer that closed its end or disconnected ours: the end of the stream.
bool isPeerGone(DWORD code) { return code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED; }

SysPipeIo failure(bool waited) {
  if (isPeerGone(GetLastError())) return SysPipeIo::PeerGone;
  return waited ? SysPipeIo::FailedAfterWait : SysPipeIo::Failed;
}

}  // namespace

SysPipeOpen sysNamedPipeOpen(const char* name, uint32_t waitMs, SysNamedPipe* end) {
  *end = kSysNoNamedPipe;
  HANDLE pipe = CreateFileA(name, kClientAccess, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                            nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_PIPE_BUSY) return SysPipeOpen::Failed;
    return WaitNamedPipeA(name, waitMs) ? SysPipeOpen::TryAgain : SysPipeOpen::Failed;
  }
  // The name may be any file the caller can open; writing a connection's
  // bytes into a disk file or a device would damage it.
  if (GetFileType(pipe) != FILE_TYPE_PIPE) {
    CloseHandle(pipe);
    SetLastError(ERROR_BAD_PIPE);
    return SysPipeOpen::Failed;
  }
  *end = reinterpret_cast<SysNamedPipe>(pipe);
  return SysPipeOpen::Opened;
}

bool sysNamedPipeCreate(const char* name, bool first, uint32_t maxInstances,
                        SysNamedPipe* instance) {
  *instance = kSysNoNamedPipe;
  if (maxInstances < 1 || maxInstances > kSysPipeUnlimitedInstances) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // The first instance sets the pipe's access list; the others share it.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (first && !ConvertStringSecurityDescriptorToSecurityDescriptorA(kPipeAccess, SDDL_REVISION_1,
                                                                     &descriptor, nullptr)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  if (first) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  HANDLE pipe = CreateNamedPipeA(
      name, openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      maxInstances == kSysPipeUnlimitedInstances ? PIPE_UNLIMITED_INSTANCES : maxInstances,
      kBufferBytes, kBufferBytes, 0, first ? &attributes : nullptr);
  if (descriptor != nullptr) {
    LastError kept;
    LocalFree(descriptor);
  }
  if (pipe == INVALID_HANDLE_VALUE) return false;
  *instance = reinterpret_cast<SysNamedPipe>(pipe);
  return true;
}

SysPipeAccept sysNamedPipeAccept(SysNamedPipe instance) {
  Overlapped overlapped;
  if (!overlapped.ready()) return SysPipeAccept::Failed;
  if (ConnectNamedPipe(handleOf(instance), overlapped.get())) return SysPipeAccept::Connected;
  switch (GetLastError()) {
    case ERROR_PIPE_CONNECTED:
      return SysPipeAccept::Connected;
    case ERROR_IO_PENDING:
      // Completed by a client or by a close of the instance; the caller
      // tells the two apart by its own state.
      overlapped.wait();
      return SysPipeAccept::Connected;
    case ERROR_PIPE_LISTENING:
      return SysPipeAccept::Listening;
    default:
      return SysPipeAccept::Failed;
  }
}

bool sysNamedPipeFlush(SysNamedPipe instance) {
  return FlushFileBuffers(handleOf(instance)) != 0;
}

bool sysNamedPipeDisconnect(SysNamedPipe instance) {
  return DisconnectNamedPipe(handleOf(instance)) != 0;
}

SysPipeIo sysNamedPipeRead(SysNamedPipe end, void* buffer, uint32_t capacity,
                           uint32_t* received) {
  *received = 0;
  Overlapped overlapped;
  if (!overlapped.ready()) return SysPipeIo::Failed;
  HANDLE pipe = handleOf(end);
  DWORD count = 0;
  if (!ReadFile(pipe, buffer, capacity, &count, overlapped.get())) {
    if (GetLastError() != ERROR_IO_PENDING) return failure(false);
    overlapped.wait();
    if (!overlapped.result(pipe, &count)) return failure(true);
  }
  *received = count;
  return SysPipeIo::Done;
}

SysPipeIo sysNamedPipeWrite(SysNamedPipe end, const void* data, uint32_t length) {
  Overlapped overlapped;
  if (!overlapped.ready()) return SysPipeIo::Failed;
  HANDLE pipe = handleOf(end);
  DWORD count = 0;
  if (!WriteFile(pipe, data, length, &count, overlapped.get())) {
    if (GetLastError() != ERROR_IO_PENDING) return SysPipeIo::Failed;
    overlapped.wait();
    // A write that the peer's going cut short is no success.
    if (!overlapped.result(pipe, &count)) return SysPipeIo::FailedAfterWait;
  }
  return SysPipeIo::Done;
}

bool sysNamedPipeClose(SysNamedPipe end) { return CloseHandle(handleOf(end)) != 0; }

bool sysLocalPipeName(const char* base, char* name, int32_t size) {
  if (size <= 0) return false;
  int n = std::snprintf(name, static_cast<size_t>(size), "\\\\.\\pipe\\volsten-%lu-%s",
                        static_cast<unsigned long>(GetCurrentProcessId()), base);
  return n > 0 && n < size;
}

bool sysNamedPipeAccessText(SysNamedPipe instance, char* text, int32_t size) {
  if (size <= 0) return false;
  text[0] = '\0';
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = GetSecurityInfo(handleOf(instance), SE_KERNEL_OBJECT,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                                 &descriptor);
  if (status != ERROR_SUCCESS) {
    SetLastError(status);
    return false;
  }
  char* described = nullptr;
  bool ok = ConvertSecurityDescriptorToStringSecurityDescriptorA(
                descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &described, nullptr) != 0;
  if (ok) {
    ok = std::strlen(described) < static_cast<size_t>(size);
    if (ok) std::strcpy(text, described);
    LocalFree(described);
  }
  LocalFree(descriptor);
  return ok;
}

}  // namespace volsten
