#include "sys/message_box.h"

#include <windows.h>

#include "sys/seam.h"

namespace volsten {

void sysMessageBox(const char* text, const char* caption) {
  if (sysSeamMessageCaptured(text, caption)) return;
  MessageBoxA(GetDesktopWindow(), text, caption, MB_OK);
}

}  // namespace volsten
