// Traced heap against malloc/free in the two patterns the runtime uses:
// an object that makes many small parts and drops them all at once (a
// diagnostics context and its records), and steady alloc/free churn.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "base/heap.h"

namespace {

using volsten::heapAlloc;
using volsten::heapCreate;
using volsten::heapDestroy;
using volsten::heapFree;

uint32_t sizeAt(int i) { return 8 + static_cast<uint32_t>((i * 37) % 96); }

void TracedHeapObjectLifetime(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  for (auto _ : state) {
    volsten::TracedHeap* heap = heapCreate(1024);
    for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(heapAlloc(heap, sizeAt(i)));
    heapDestroy(heap);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void MallocObjectLifetime(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<void*> parts(static_cast<size_t>(n));
  for (auto _ : state) {
    for (int i = 0; i < n; ++i) parts[static_cast<size_t>(i)] = std::malloc(sizeAt(i));
    benchmark::DoNotOptimize(parts.data());
    for (void* p : parts) std::free(p);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// A window of live blocks: each step frees the oldest and allocates anew.
constexpr int kWindow = 32;

void TracedHeapChurn(benchmark::State& state) {
  volsten::TracedHeap* heap = heapCreate(1024);
  std::vector<void*> window(kWindow, nullptr);
  int i = 0;
  for (auto _ : state) {
    void*& slot = window[static_cast<size_t>(i % kWindow)];
    heapFree(slot);
    slot = heapAlloc(heap, sizeAt(i));
    benchmark::DoNotOptimize(slot);
    ++i;
  }
  heapDestroy(heap);
  state.SetItemsProcessed(state.iterations());
}

void MallocChurn(benchmark::State& state) {
  std::vector<void*> window(kWindow, nullptr);
  int i = 0;
  for (auto _ : state) {
    void*& slot = window[static_cast<size_t>(i % kWindow)];
    std::free(slot);
    slot = std::malloc(sizeAt(i));
    benchmark::DoNotOptimize(slot);
    ++i;
  }
  for (void* p : window) std::free(p);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(TracedHeapObjectLifetime)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(MallocObjectLifetime)->Arg(8)->Arg(64)->Arg(1024);
BENCHMARK(TracedHeapChurn);
BENCHMARK(MallocChurn);

}  // namespace

BENCHMARK_MAIN();
