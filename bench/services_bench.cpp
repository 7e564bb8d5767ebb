// registerService on a services file of 100,000 entry lines against the
// least any reader of that file must do: one fgets pass over the same file.
// Each registration reads the whole file (the service is not there), takes
// the lock, and appends its line; the file is rewritten between iterations,
// outside the timing, so every iteration sees the same 100,000 lines.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "utils/services_file.h"

namespace {

constexpr int kLines = 100000;

const std::string& servicesText() {
  static const std::string text = [] {
    std::string t = "# generated services file\n";
    char line[96];
    for (int i = 0; i < kLines; ++i) {
      // Mostly aligned columns, some comments, some odd ones.
      if (i % 10 == 0) {
        std::snprintf(line, sizeof line, "  svc%06d %d/udp # odd one\n", i, i % 65536);
      } else {
        std::snprintf(line, sizeof line, "service-%06d %10d/tcp   %s\n", i, i % 65536,
                      i % 3 == 0 ? "# with a comment" : "");
      }
      t += line;
    }
    return t;
  }();
  return text;
}

std::string writeServices() {
  std::string path = (std::filesystem::temp_directory_path() / "volsten-bench-services").string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return "";
  std::fwrite(servicesText().data(), 1, servicesText().size(), f);
  std::fclose(f);
  return path;
}

void RegisterServiceOnLargeFile(benchmark::State& state) {
  std::string path = writeServices();
  if (path.empty()) {
    state.SkipWithError("cannot write the services file");
    return;
  }
  for (auto _ : state) {
    volsten::registerService(path.c_str(), "newservice", 4242, "tcp", "added by the benchmark");
    state.PauseTiming();
    writeServices();
    state.ResumeTiming();
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * kLines);
}

void FgetsScanOfLargeFile(benchmark::State& state) {
  std::string path = writeServices();
  if (path.empty()) {
    state.SkipWithError("cannot write the services file");
    return;
  }
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    char line[1024];
    int lines = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) ++lines;
    std::fclose(f);
    benchmark::DoNotOptimize(lines);
  }
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * kLines);
}

BENCHMARK(RegisterServiceOnLargeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(FgetsScanOfLargeFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
