// The binarisation loop against memcpy of the same bytes: the loop should run at the speed of
// memory, so that reading and writing the files, not the computation, bound the command.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include <imagefiles/imagefiles.h>

namespace {

std::vector<unsigned char> greymap(std::size_t size) {
  std::vector<unsigned char> pixels(size);
  for (std::size_t i = 0; i < size; ++i) pixels[i] = static_cast<unsigned char>(i * 37 + i / 4099);
  return pixels;
}

void BM_Binarise(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::vector<unsigned char> input = greymap(size);
  std::vector<unsigned char> output(size);
  for (auto _ : state) {
    binariser(output.data(), input.data(), size, 128);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void BM_Memcpy(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const std::vector<unsigned char> input = greymap(size);
  std::vector<unsigned char> output(size);
  for (auto _ : state) {
    std::memcpy(output.data(), input.data(), size);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// 640 x 480 and 8000 x 6000 pixels.
BENCHMARK(BM_Binarise)->Arg(640 * 480)->Arg(8000 * 6000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Arg(640 * 480)->Arg(8000 * 6000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
