// A message for the user who sits in front of the machine: on Windows a
// message box owned by the desktop window with one OK button, which waits
// until it is answered; on POSIX a line on standard error.
#pragma once

namespace volsten {

void sysMessageBox(const char* text, const char* caption);

}  // namespace volsten
