#include "sys/stop_signal.h"

#include <windows.h>

namespace volsten {
namespace {

// Manual reset: once requested, the stop stays requested.
HANDLE stopEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT ||
      event == CTRL_SHUTDOWN_EVENT) {
    SetEvent(stopEvent);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

bool sysStopSignalsCatch() {
  if (stopEvent == nullptr) stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent == nullptr) return false;
  // A process without a console has no Ctrl-C to catch; it stops by request.
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
  return true;
}

void sysStopWait() { WaitForSingleObject(stopEvent, INFINITE); }

void sysStopRequest() { SetEvent(stopEvent); }

}  // namespace volsten
