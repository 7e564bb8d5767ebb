// A private temporary directory and whole-file reads and writes in binary
// mode, so that tests see the exact bytes (CR LF included) on every system.
#pragma once

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <system_error>

namespace volsten::testing {

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    std::error_code error;
    auto base = std::filesystem::temp_directory_path(error);
    for (int attempt = 0; attempt < 100; ++attempt) {
      root_ = base / ("volsten-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(root_, error)) return;
    }
    root_.clear();
  }
  ~TempDir() {
    std::error_code error;
    if (!root_.empty()) std::filesystem::remove_all(root_, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !root_.empty(); }
  const std::filesystem::path& root() const { return root_; }
  std::string path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
};

inline bool writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// The file's bytes; "<missing>" when it cannot be opened.
inline std::string readFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "<missing>";
  std::string bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

// How many lines of text begin with prefix.
inline int countLinesStartingWith(const std::string& text, const std::string& prefix) {
  int count = 0;
  size_t at = 0;
  while (at < text.size()) {
    if (text.compare(at, prefix.size(), prefix) == 0) ++count;
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return count;
}

}  // namespace volsten::testing

namespace volsten::testing {

struct Placed {
  int column;
  std::string text;
};

// A line with each text starting at its column (blanks fill the gaps), for
// writing expected entry lines by their columns rather than by counting
// blanks.
inline std::string placed(std::initializer_list<Placed> fields) {
  std::string line;
  for (const Placed& f : fields) {
    if (static_cast<int>(line.size()) < f.column) line.append(f.column - line.size(), ' ');
    line += f.text;
  }
  return line;
}

}  // namespace volsten::testing
