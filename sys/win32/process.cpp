#include "sys/process.h"

#include <windows.h>

#include <atomic>

#include "sys/fault.h"
#include "sys/seam.h"

namespace volsten {
namespace {

std::atomic<long> openEnds{0};

HANDLE asHandle(SysHandle h) { return reinterpret_cast<HANDLE>(h); }
SysHandle fromHandle(HANDLE h) { return reinterpret_cast<SysHandle>(h); }

bool makePipe(HANDLE* read, HANDLE* write, SECURITY_ATTRIBUTES* attributes) {
  if (faultShouldFail(FaultPoint::PipeCreate)) return false;
  if (!CreatePipe(read, write, attributes, 0)) return false;
  openEnds += 2;
  return true;
}

// The pipes are made inheritable, and a child inherits every inheritable
// handle of this process at the moment it is created. Two starts on two
// threads would hand each other's ends to their children, which then keep
// the other child's pipes open (its parent never sees the end of its data).
// One lock for the process covers each start from the making of the pipes
// to the closing of the child's ends.
class StartLock {
 public:
  StartLock() { EnterCriticalSection(&section()); }
  ~StartLock() { LeaveCriticalSection(&section()); }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;

 private:
  static CRITICAL_SECTION& section() {
    static struct Section {
      Section() { InitializeCriticalSection(&value); }
      CRITICAL_SECTION value;
    } lock;
    return lock.value;
  }
};

void closeEnd(HANDLE* end) {
  if (*end == nullptr) return;
  CloseHandle(*end);
  --openEnds;
  *end = nullptr;
}

}  // namespace

bool sysChildStart(char* commandLine, SysHandle* outputRead, SysHandle* inputWrite,
                   SysChild* child) {
  *outputRead = 0;
  *inputWrite = 0;
  StartLock lock;
  // Both pipes are made inheritable; this process's ends are then taken out
  // of the inheritance so that only the child's ends pass to the child.
  SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE ownRead = nullptr, childOut = nullptr, childIn = nullptr, ownWrite = nullptr;
  PROCESS_INFORMATION info{};
  bool ok = makePipe(&ownRead, &childOut, &attributes);
  if (ok) {
    SetHandleInformation(ownRead, HANDLE_FLAG_INHERIT, 0);
    ok = makePipe(&childIn, &ownWrite, &attributes);
  }
  if (ok) {
    SetHandleInformation(ownWrite, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childOut;
    sysSeamChildStarting();
    if (commandLine == nullptr) {
      // A null command line with no application name brings some systems
      // down instead of failing.
      SetLastError(ERROR_INVALID_PARAMETER);
      ok = false;
    } else if (faultShouldFail(FaultPoint::ChildStart)) {
      ok = false;
    } else {
      ok = CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &info) != FALSE;
    }
  }
  DWORD error = GetLastError();
  closeEnd(&childOut);
  closeEnd(&childIn);
  if (!ok) {
    closeEnd(&ownRead);
    closeEnd(&ownWrite);
    SetLastError(error);
    return false;
  }
  *outputRead = fromHandle(ownRead);
  *inputWrite = fromHandle(ownWrite);
  *child = SysChild{fromHandle(info.hProcess), fromHandle(info.hThread), info.dwProcessId,
                    info.dwThreadId};
  return true;
}

void sysChildTerminate(SysChild* child) {
  if (child->process != 0) {
    TerminateProcess(asHandle(child->process), 0);
    CloseHandle(asHandle(child->process));
  }
  if (child->thread != 0) CloseHandle(asHandle(child->thread));
  *child = SysChild{};
}

bool sysPipeRead(SysHandle end, void* buffer, uint32_t capacity, uint32_t* received) {
  DWORD n = 0;
  if (!ReadFile(asHandle(end), buffer, capacity, &n, nullptr)) return false;
  *received = n;
  return true;
}

bool sysPipeWrite(SysHandle end, const void* data, uint32_t length) {
  const char* at = static_cast<const char*>(data);
  do {
    DWORD n = 0;
    if (!WriteFile(asHandle(end), at, length, &n, nullptr)) return false;
    if (n > length) n = length;
    at += n;
    length -= n;
  } while (length > 0);
  return true;
}

bool sysPipeClose(SysHandle end) {
  HANDLE h = asHandle(end);
  if (h == nullptr) return false;
  closeEnd(&h);
  return true;
}

SysHandle sysStdHandle(int which) {
  static constexpr DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  if (which < 0 || which > 2) return 0;
  HANDLE h = GetStdHandle(kIds[which]);
  return h == INVALID_HANDLE_VALUE ? 0 : fromHandle(h);
}

bool sysProcessAlive(uint32_t processId) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (h == nullptr) return false;
  bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return alive;
}

long sysPipeEndsOpen() { return openEnds; }

}  // namespace volsten
