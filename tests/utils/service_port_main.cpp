// Prints the port the system's services database gives for a service and
// protocol (-1 when it has none), without a line end: service_port NAME PROTOCOL.
#include <cstdio>

#include "sys/service_lookup.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::printf("%d", static_cast<int>(volsten::sysServicePort(argv[1], argv[2])));
  return 0;
}
