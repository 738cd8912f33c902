// SPDX-License-Identifier: MIT
// Speed of the FFT per point count, in nanoseconds per butterfly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "dsp/fft.hpp"
#include "cli/run_environment.hpp"
#include "dsp/vector_target.hpp"

namespace {

// The vector target the kernels run on (IQTOOLS_SIMD pins one), printed in the run's context.
const bool kTargetShown =
    (iq::apply_run_environment(), benchmark::AddCustomContext("vector target", iq::vector_target()), true);

// Nanoseconds per butterfly and bytes of capture per second, for `frames` frames of n points
// transformed once per iteration.
void report(benchmark::State& state, std::int32_t n, std::size_t frames) {
  int log_n = 0;
  while ((1 << log_n) < n) ++log_n;
  const double butterflies = static_cast<double>(n) / 2 * log_n * static_cast<double>(frames);
  state.counters["ns/butterfly"] = benchmark::Counter(butterflies * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2 * n *
                          static_cast<std::int64_t>(frames));
}

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
  report(state, n, 1);
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
  for (std::size_t l = 0; l < iq::kFftLanes; ++l)
    pointers[l] = frames.data() + l * 2 * static_cast<std::size_t>(n);
  iq::FftLaneWork work;
  for (auto _ : state) {
    frames = input;
    plan.transform_lanes(pointers, work);
    benchmark::DoNotOptimize(frames.data());
  }
  report(state, n, iq::kFftLanes);
}
BENCHMARK(BM_FftLanes)->RangeMultiplier(4)->Range(64, 262144);

// Eight frames of capture bytes side by side, as the spectrum takes them.
void BM_FftBytesLanes(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const iq::FftPlan plan(n, -1);
  std::mt19937 rng(1);
  std::vector<std::uint8_t> bytes(2 * static_cast<std::size_t>(n) * iq::kFftLanes);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(rng());
  const std::uint8_t* frames[iq::kFftLanes];
  for (std::size_t l = 0; l < iq::kFftLanes; ++l) frames[l] = bytes.data() + l * 2 * static_cast<std::size_t>(n);
  iq::FftLaneWork work;
  if (!plan.lanes_serve_bytes()) {
    state.SkipWithError("no vector evaluation on this target");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(plan.transform_bytes_lanes(frames, work));
  report(state, n, iq::kFftLanes);
}
BENCHMARK(BM_FftBytesLanes)->Arg(1024)->Arg(65536);

}  // namespace
