// Joins a counted string, reads a profile that is not there, and opens and
// frees a dispatcher environment: the library's three layers, linked from
// the installed package. Prints "ok" and exits 0 when all behave.
#include <cstdio>
#include <cstring>

#include "base/diag.h"
#include "base/str.h"
#include "config/profile.h"
#include "net/dispatch/dispatcher.h"

int main() {
  using namespace volsten;
  DiagContext* diag = diagCreate(nullptr);
  char text[4];
  strCopy(diag, text, sizeof text, "volsten", NTS);
  bool cut = std::strcmp(text, "vol") == 0 && diagStatus(diag) == STATUS_SUCCESS_WITH_INFO;
  char value[16];
  int32_t length =
      getProfileString("srv", "Connect", "none", value, sizeof value, "/nonexistent/volsten.ini");
  int32_t environment = openEnvironment(diag, nullptr, 0);
  bool served = environment != 0 && freeEnvironment(diag, environment) >= 0;
  diagFree(diag);
  bool ok = cut && length == 4 && served;
  std::puts(ok ? "ok" : "failed");
  return ok ? 0 : 1;
}
