#include "server/server_options.h"

#include <cstring>

#include "sys/path_place.h"

namespace volsten {

const char* const kServerUsage =
    "usage: volsten-server --root DIR [--listen CONNECTION-STRING]... [--stdio] [--quiet]\n"
    "  --root DIR      serve the files under DIR (read only)\n"
    "  --listen TEXT   listen as TEXT says, for example \"Protocol=TCP;Port=7000\" or\n"
    "                  \"Protocol=Local;Path=NAME\"; may be given several times\n"
    "  --stdio         serve one client over standard input and output, then exit\n"
    "  --quiet         log nothing (the log goes to standard error)\n"
    "Without --listen or --stdio the server listens on TCP at the service \"volsten\".\n";

bool parseServerOptions(int argc, char** argv, ServerOptions* options, const char** problem) {
  *options = ServerOptions{};
  bool root = false;
  for (int i = 1; i < argc; ++i) {
    const char* flag = argv[i];
    bool takesValue = std::strcmp(flag, "--root") == 0 || std::strcmp(flag, "--listen") == 0;
    if (takesValue && i + 1 >= argc) {
      *problem = "an option lacks its value";
      return false;
    }
    if (std::strcmp(flag, "--root") == 0) {
      const char* dir = argv[++i];
      if (root || std::strlen(dir) >= sizeof options->settings.root) {
        *problem = root ? "--root is given twice" : "the root is too long";
        return false;
      }
      std::strcpy(options->settings.root, dir);
      root = true;
    } else if (std::strcmp(flag, "--listen") == 0) {
      if (options->listenCount == kMaxListeners) {
        *problem = "too many --listen options";
        return false;
      }
      options->listens[options->listenCount++] = argv[++i];
    } else if (std::strcmp(flag, "--stdio") == 0) {
      options->stdio = true;
    } else if (std::strcmp(flag, "--quiet") == 0) {
      options->settings.quiet = true;
    } else {
      *problem = "unknown option";
      return false;
    }
  }
  if (!root) {
    *problem = "--root is missing";
    return false;
  }
  if (!sysIsDirectory(options->settings.root)) {
    *problem = "the root is no directory";
    return false;
  }
  if (options->listenCount == 0 && !options->stdio)
    options->listens[options->listenCount++] = kDefaultListen;
  return true;
}

}  // namespace volsten
