#include "sys/message_box.h"

#include <cstdio>

#include "sys/seam.h"

namespace volsten {

// No desktop to put a box on: the message goes to standard error, in one
// write so that it is not torn by other threads' output.
void sysMessageBox(const char* text, const char* caption) {
  if (sysSeamMessageCaptured(text, caption)) return;
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
}

}  // namespace volsten
