// Where a path really lies, with every link and "." or ".." resolved by the
// system: for a server that must serve only the files under one directory.
#pragma once

namespace volsten {

enum class SysPathPlace {
  Inside,   // an existing file or directory under root (root itself excluded)
  Outside,  // an existing one elsewhere
  Missing,  // path (or root) does not exist, or cannot be resolved
};

SysPathPlace sysPathPlace(const char* root, const char* path);

// True for an existing directory.
bool sysIsDirectory(const char* path);

}  // namespace volsten
