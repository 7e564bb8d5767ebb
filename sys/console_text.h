// Writing the system's Windows-1252 texts (diagnostic messages) so that the
// terminal shows them: as UTF-8 on POSIX, in the console's code page on
// Windows.
#pragma once

#include <cstdio>

namespace volsten {

void sysWriteText(std::FILE* stream, const char* text);

}  // namespace volsten
