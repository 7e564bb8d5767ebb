// Finds the services file of the running system.
#pragma once

namespace volsten {

// Forms serviceOptions().servicesPath: the system directory joined with
// "drivers\etc\services" on the NT family, the Windows directory joined with
// "services" on the Windows 95 family, /etc/services on POSIX. Returns 1 when
// the path was formed; 0 (path empty) for another family, a failed version or
// directory query, or a path too long to hold.
int locateServicesFile();

}  // namespace volsten
