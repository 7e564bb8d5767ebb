// The tool with its directories redirected, for end-to-end tests that must
// never touch the machine's own services file: regservice_redirected DIR
// [options...] runs the tool's entry point on the options with both the
// system and the Windows directory set to DIR.
#include "sys/seam.h"
#include "utils/regservice.h"

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '\0') return 2;
  volsten::sysSeamRedirectDirectories(argv[1], argv[1]);
  // argv[1] takes the place of the program name.
  return volsten::regserviceMain(argc - 1, argv + 1);
}
