// Suspending the calling thread.
#pragma once

#include <cstdint>

namespace volsten {

// Returns after at least milliseconds have passed.
void sysSleep(uint32_t milliseconds);

}  // namespace volsten
