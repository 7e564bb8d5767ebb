// Runs a fuzz target once on each file named on the command line, so that a
// seed corpus replays without libFuzzer. Fails when a file cannot be read;
// a finding aborts as it would under the fuzzer.
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    std::FILE* file = std::fopen(argv[i], "rb");
    if (file == nullptr) {
      std::fprintf(stderr, "replay: cannot open %s\n", argv[i]);
      return 1;
    }
    std::vector<uint8_t> data;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      data.insert(data.end(), chunk, chunk + n);
    std::fclose(file);
    // Like libFuzzer, never a null pointer, also for an empty input.
    data.reserve(1);
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("replay: %d inputs\n", argc - 1);
  return 0;
}
