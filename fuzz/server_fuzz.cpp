// Fuzz target for the server's conversation handler: the input (after two
// bytes that choose the read size and how the stream ends) is everything a
// client sends, served against a root that holds one small file and a code
// table. The handler must return (at the stream's end or on a request it
// refuses), and AddressSanitizer and UBSan watch every buffer on the way.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/str.h"
#include "fuzz/fake_stream.h"
#include "server/conversation.h"

namespace {

// The root, made once per process in the temporary directory.
const volsten::ServerSettings& settings() {
  static volsten::ServerSettings made = [] {
    volsten::ServerSettings s{};
    std::error_code error;
    auto root = std::filesystem::temp_directory_path(error) / "volsten-server-fuzz";
    std::filesystem::create_directories(root / "dir", error);
    for (auto [name, text] : {std::pair{"dir/file.txt", "one\ntwo\n"}, {"table", "/\n97:65\n"}}) {
      if (std::FILE* f = std::fopen((root / name).string().c_str(), "wb")) {
        std::fputs(text, f);
        std::fclose(f);
      }
    }
    std::strcpy(s.root, root.string().c_str());
    s.quiet = true;
    return s;
  }();
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace volsten;
  if (size < 2) return 0;
  const ServerSettings& served = settings();
  fakeStreamStart(data + 2, size - 2, data[0] % 64 + 1, (data[1] & 1) != 0);
  int32_t environment = openEnvironment(nullptr, nullptr, 0);
  int32_t connection = connect(nullptr, environment, "Protocol=TCP", NTS);
  require(connection != 0);
  serveConnection(connection, served);
  freeEnvironment(nullptr, environment);
  fakeStreamStop();
  return 0;
}
