#include "sys/seam.h"

namespace volsten {

// The POSIX backend is never run by wine.
bool sysSeamRunsUnderWine() { return false; }

}  // namespace volsten
