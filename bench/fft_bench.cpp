// Speed of the FFT per point count, in nanoseconds per butterfly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/fft.hpp"
#include "dsp/vector_target.hpp"

namespace {

// The vector target the kernels run on (IQTOOLS_SIMD pins one), printed in the run's context.
const bool kTargetShown = (benchmark::AddCustomContext("vector target", iq::vector_target()), true);

void BM_FftForward(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const iq::FftPlan plan(n, -1);
  std::mt19937 rng(1);
  std::vector<double> input(2 * static_cast<std::size_t>(n));
  for (double& v : input) v = (static_cast<int>(rng() % 256) - 127.5) / 128.0;
  std::vector<double> frame = input;
  for (auto _ : state) {
    frame = input;
    plan.transform(frame.data());
    benchmark::DoNotOptimize(frame.data());
  }
  int log_n = 0;
  while ((1 << log_n) < n) ++log_n;
  const double butterflies = static_cast<double>(n) / 2 * log_n;
  state.counters["ns/butterfly"] = benchmark::Counter(
      butterflies * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * n);
}
BENCHMARK(BM_FftForward)->RangeMultiplier(4)->Range(64, 262144);

// Eight frames side by side; butterflies counted per frame.
void BM_FftLanes(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const iq::FftPlan plan(n, -1);
  std::mt19937 rng(1);
  std::vector<double> input(2 * static_cast<std::size_t>(n) * iq::kFftLanes);
  for (double& v : input) v = (static_cast<int>(rng() % 256) - 127.5) / 128.0;
  std::vector<double> frames = input;
  double* pointers[iq::kFftLanes];
  for (std::size_t l = 0; l < iq::kFftLanes; ++l) pointers[l] = frames.data() + l * 2 * static_cast<std::size_t>(n);
  iq::FftLaneWork work;
  for (auto _ : state) {
    frames = input;
    plan.transform_lanes(pointers, work);
    benchmark::DoNotOptimize(frames.data());
  }
  int log_n = 0;
  while ((1 << log_n) < n) ++log_n;
  const double butterflies = static_cast<double>(n) / 2 * log_n * iq::kFftLanes;
  state.counters["ns/butterfly"] = benchmark::Counter(
      butterflies * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * n * static_cast<std::int64_t>(iq::kFftLanes));
}
BENCHMARK(BM_FftLanes)->RangeMultiplier(4)->Range(64, 262144);

}  // namespace
