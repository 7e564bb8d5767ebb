#include "sys/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace volsten {

SysProgram sysProgramStart(const char* const* argv, const char* outputPath) {
  if (argv == nullptr || argv[0] == nullptr || outputPath == nullptr) return 0;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return 0;
  bool ready = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_addopen(&actions, 1, outputPath,
                                                O_WRONLY | O_CREAT | O_TRUNC, 0644) == 0 &&
               posix_spawn_file_actions_adddup2(&actions, 1, 2) == 0;
  pid_t pid = 0;
  // posix_spawnp wants mutable argument pointers; it does not change them.
  int rc = ready ? posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv),
                                environ)
                 : -1;
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? static_cast<SysProgram>(pid) : 0;
}

void sysProgramStop(SysProgram program) {
  if (program != 0) kill(static_cast<pid_t>(program), SIGTERM);
}

int32_t sysProgramWait(SysProgram program) {
  if (program <= 0) return -1;
  int status = 0;
  pid_t rc;
  do {
    rc = waitpid(static_cast<pid_t>(program), &status, 0);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace volsten
