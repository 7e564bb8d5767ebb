#include "utils/regservice.h"

#include <cstring>

#include "utils/locate.h"
#include "utils/options.h"
#include "utils/services_file.h"

namespace volsten {

int regserviceMain(int argc, const char* const* argv) {
  if (!parseOptions(argc, argv)) return 0;
  // The services file is located even when -service is not given.
  if (!locateServicesFile()) return 0;
  const ServiceOptions& o = serviceOptions();
  // The port is written as a number, but a port text that holds a line
  // break was not meant as one: it is refused like the other fields that do.
  if (o.service && std::strpbrk(o.portText, "\r\n") == nullptr) {
    registerService(o.servicesPath, o.name, portFromText(o.portText), o.protocol, o.comment);
  }
  return 0;
}

}  // namespace volsten
