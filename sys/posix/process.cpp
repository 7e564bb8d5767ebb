#include "sys/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "sys/fault.h"
#include "sys/seam.h"

namespace volsten {
namespace {

std::atomic<long> openEnds{0};

// Descriptors travel as fd + 1 so that 0 keeps meaning none.
int fdOf(SysHandle end) { return static_cast<int>(end) - 1; }
SysHandle fromFd(int fd) { return static_cast<SysHandle>(fd + 1); }

void closeFd(int* fd) {
  if (*fd < 0) return;
  int saved = errno;
  close(*fd);
  errno = saved;
  --openEnds;
  *fd = -1;
}

// Moves a descriptor above the standard three, so that wiring the child's
// standard handles can never overwrite another end of the same attempt.
bool liftAboveStd(int* fd) {
  if (*fd > 2) return true;
  int lifted = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
  if (lifted < 0) return false;
  int saved = errno;
  close(*fd);
  errno = saved;
  *fd = lifted;
  return true;
}

// Every end is close-on-exec: the child receives its two ends as its
// standard handles through dup2, which clears that flag on the copies.
bool makePipe(int* readEnd, int* writeEnd) {
  if (faultShouldFail(FaultPoint::PipeCreate)) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  openEnds += 2;
  *readEnd = fds[0];
  *writeEnd = fds[1];
  return liftAboveStd(readEnd) && liftAboveStd(writeEnd);
}

bool blankOnly(const char* line) {
  for (; *line != '\0'; ++line) {
    if (*line != ' ' && *line != '\t') return false;
  }
  return true;
}

pid_t spawn(const char* commandLine, int childIn, int childOut) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  // In the child only async-signal-safe calls: its own process group (so
  // that termination reaches whatever the shell starts), the standard
  // handles, the shell.
  setpgid(0, 0);
  if (dup2(childIn, 0) < 0 || dup2(childOut, 1) < 0 || dup2(childOut, 2) < 0) _exit(127);
  execl("/bin/sh", "sh", "-c", commandLine, static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

bool sysChildStart(char* commandLine, SysHandle* outputRead, SysHandle* inputWrite,
                   SysChild* child) {
  *outputRead = 0;
  *inputWrite = 0;
  int ownRead = -1, childOut = -1, childIn = -1, ownWrite = -1;
  pid_t pid = -1;
  bool ok = makePipe(&ownRead, &childOut) && makePipe(&childIn, &ownWrite);
  if (ok) {
    // Every end is close-on-exec from its creation: a child that another
    // thread starts meanwhile inherits none of them, and no lock is needed.
    sysSeamChildStarting();
    // The shell takes an empty line as a command that does nothing; the
    // Windows loader refuses it, and so does this backend.
    if (commandLine == nullptr || blankOnly(commandLine)) {
      errno = ENOENT;
      ok = false;
    } else if (faultShouldFail(FaultPoint::ChildStart)) {
      ok = false;
    } else {
      pid = spawn(commandLine, childIn, childOut);
      ok = pid > 0;
      // Also here: the group must exist before anyone signals it.
      if (ok) setpgid(pid, pid);
    }
  }
  int error = errno;
  closeFd(&childOut);
  closeFd(&childIn);
  if (!ok) {
    closeFd(&ownRead);
    closeFd(&ownWrite);
    errno = error;
    return false;
  }
  *outputRead = fromFd(ownRead);
  *inputWrite = fromFd(ownWrite);
  *child = SysChild{static_cast<SysHandle>(pid), 0, static_cast<uint32_t>(pid), 0};
  return true;
}

void sysChildTerminate(SysChild* child) {
  pid_t pid = static_cast<pid_t>(child->process);
  if (pid > 0) {
    int saved = errno;
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    errno = saved;
  }
  *child = SysChild{};
}

bool sysPipeRead(SysHandle end, void* buffer, uint32_t capacity, uint32_t* received) {
  ssize_t n;
  do {
    n = read(fdOf(end), buffer, capacity);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  if (n == 0 && capacity > 0) {
    // End of data: every writer is gone. Windows reports this as a broken
    // pipe, and so does this backend.
    errno = EPIPE;
    return false;
  }
  *received = static_cast<uint32_t>(n);
  return true;
}

bool sysPipeWrite(SysHandle end, const void* data, uint32_t length) {
  // A write to a pipe without reader raises SIGPIPE, which would end the
  // process. The signal is held back for this thread and, if this write
  // raised it, taken off again before the old mask returns.
  sigset_t pipeOnly, old, pending;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
  sigpending(&pending);
  bool wasPending = sigismember(&pending, SIGPIPE) == 1;

  const char* at = static_cast<const char*>(data);
  bool ok = true;
  do {
    ssize_t n = write(fdOf(end), at, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    at += n;
    length -= static_cast<uint32_t>(n);
  } while (length > 0);

  int error = errno;
  if (!ok && error == EPIPE && !wasPending) {
    timespec zero{};
    while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = error;
  return ok;
}

bool sysPipeClose(SysHandle end) {
  int fd = fdOf(end);
  if (fd < 0) return false;
  closeFd(&fd);
  return true;
}

SysHandle sysStdHandle(int which) { return which >= 0 && which <= 2 ? fromFd(which) : 0; }

bool sysProcessAlive(uint32_t processId) {
  return processId != 0 && (kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

long sysPipeEndsOpen() { return openEnds; }

}  // namespace volsten
