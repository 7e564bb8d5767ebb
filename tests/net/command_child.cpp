// A peer for the command transport's tests, started by them as a child
// process. Each argument is one step, done in order:
//   out:TEXT  writes TEXT to standard output
//   err:TEXT  writes TEXT to standard error
//   echo      copies standard input to standard output until it ends; the
//             byte '#' switches the copy between standard output and
//             standard error, the byte '~' ends the copy at once
//   hold      waits a minute without reading, to be terminated
// Then it exits with code 0. The standard handles are used unbuffered and
// untranslated, so every byte arrives as written and in order.
#include <chrono>
#include <cstring>
#include <thread>

#include "sys/process.h"

namespace {

using volsten::SysHandle;

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

void writeText(SysHandle to, const char* text) {
  volsten::sysPipeWrite(to, text, static_cast<uint32_t>(std::strlen(text)));
}

void echo(SysHandle in, SysHandle out, SysHandle err) {
  SysHandle target = out;
  char buffer[512];
  uint32_t n = 0;
  while (volsten::sysPipeRead(in, buffer, sizeof buffer, &n)) {
    uint32_t from = 0;
    for (uint32_t i = 0; i < n; ++i) {
      if (buffer[i] != '#' && buffer[i] != '~') continue;
      volsten::sysPipeWrite(target, buffer + from, i - from);
      if (buffer[i] == '~') return;
      target = target == out ? err : out;
      from = i + 1;
    }
    volsten::sysPipeWrite(target, buffer + from, n - from);
  }
}

}  // namespace

int main(int argc, char** argv) {
  SysHandle in = volsten::sysStdHandle(0), out = volsten::sysStdHandle(1),
            err = volsten::sysStdHandle(2);
  for (int i = 1; i < argc; ++i) {
    const char* step = argv[i];
    if (startsWith(step, "out:")) {
      writeText(out, step + 4);
    } else if (startsWith(step, "err:")) {
      writeText(err, step + 4);
    } else if (std::strcmp(step, "echo") == 0) {
      echo(in, out, err);
    } else if (std::strcmp(step, "hold") == 0) {
      std::this_thread::sleep_for(std::chrono::minutes(1));
    }
  }
  return 0;
}
