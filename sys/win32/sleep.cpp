#include "sys/sleep.h"

#include <windows.h>

namespace volsten {

void sysSleep(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace volsten
