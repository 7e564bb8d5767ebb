// volsten-server or volsten with their directories redirected, for
// end-to-end tests that must never read the machine's own services database
// or profile: PROGRAM DIR [arguments...] runs the program's entry point with
// both the system and the Windows directory set to DIR.
#include "sys/seam.h"

#ifdef VOLSTEN_REDIRECTED_SERVER
#include "server/server_main.h"
#define VOLSTEN_ENTRY volsten::serverMain
#else
#include "utils/volsten_client.h"
#define VOLSTEN_ENTRY volsten::volstenMain
#endif

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '\0') return 2;
  volsten::sysSeamRedirectDirectories(argv[1], argv[1]);
  // argv[1] takes the place of the program name.
  return VOLSTEN_ENTRY(argc - 1, argv + 1);
}
