#include "server/root_path.h"

#include <cstring>
#include <initializer_list>

#include "base/str.h"
#include "sys/ascii_compare.h"
#include "sys/path_place.h"

namespace volsten {
namespace {

// Names Windows takes for devices in any directory, with any extension:
// refused everywhere, so a root copied between systems behaves alike.
bool isDeviceName(const char* component, size_t length) {
  size_t stem = 0;
  while (stem < length && component[stem] != '.') ++stem;
  char name[8];
  if (stem == 0 || stem >= sizeof name) return false;
  std::memcpy(name, component, stem);
  name[stem] = '\0';
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (sysSameAsciiText(name, device)) return true;
  }
  bool numbered = stem == 4 && name[3] >= '1' && name[3] <= '9';
  name[3] = '\0';
  return numbered && (sysSameAsciiText(name, "COM") || sysSameAsciiText(name, "LPT"));
}

// Every component of a relative name is an ordinary one.
bool isPlainRelative(const char* name) {
  if (name[0] == '\0' || isPathSeparator(name[0]) || std::strchr(name, ':') != nullptr) {
    return false;
  }
  for (const char* p = name; *p != '\0';) {
    const char* end = p;
    while (*end != '\0' && !isPathSeparator(*end)) ++end;
    auto length = static_cast<size_t>(end - p);
    if ((length == 2 && p[0] == '.' && p[1] == '.') || isDeviceName(p, length)) return false;
    p = *end != '\0' ? end + 1 : end;
  }
  return true;
}

}  // namespace

RootPath resolveUnderRoot(const char* root, const char* name, char* out, size_t size) {
  if (!isPlainRelative(name)) return RootPath::Refused;
  // A name cut to the buffer would be another file.
  if (!strJoinPath(out, size, root, name)) return RootPath::Refused;
  // The lexical rules cannot see links: the system resolves them.
  switch (sysPathPlace(root, out)) {
    case SysPathPlace::Inside: return RootPath::Allowed;
    case SysPathPlace::Missing: return RootPath::Missing;
    default: return RootPath::Refused;
  }
}

}  // namespace volsten
