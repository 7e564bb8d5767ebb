// The files a client may name: relative paths under the server's root.
#pragma once

#include <cstddef>

namespace volsten {

enum class RootPath {
  Allowed,  // out holds the path of an existing file under the root
  Refused,  // the name reaches, or could reach, outside the root
  Missing,  // a name that would be allowed, but no such file exists
};

// Refuses empty and absolute names, drive letters and every ':', ".."
// components, device names (CON, NUL, COM1, ...), and names whose real
// location, links resolved, is not under root.
RootPath resolveUnderRoot(const char* root, const char* name, char* out, size_t size);

}  // namespace volsten
