#include "utils/regservice.h"

#include "utils/locate.h"
#include "utils/options.h"
#include "utils/services_file.h"

namespace volsten {

int regserviceMain(int argc, const char* const* argv) {
  if (!parseOptions(argc, argv)) return 0;
  // The services file is located even when -service is not given.
  if (!locateServicesFile()) return 0;
  const ServiceOptions& o = serviceOptions();
  if (o.service) {
    registerService(o.servicesPath, o.name, portFromText(o.portText), o.protocol, o.comment);
  }
  return 0;
}

}  // namespace volsten
