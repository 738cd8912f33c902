// SPDX-License-Identifier: MIT
// Speed of the per-sample kernels of the streaming tools: video detection, the fold step, the
// correlation sums and the table formatting.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "io/fixed_format.hpp"
#include "dsp/folding.hpp"
#include "iqdump.hpp"
#include "dsp/lag_sums.hpp"
#include "io/text_format.hpp"
#include "dsp/video_detection.hpp"
#include "cli/run_environment.hpp"
#include "dsp/vector_target.hpp"

namespace {

// The vector target the kernels run on (IQTOOLS_SIMD pins one), printed in the run's context.
const bool kTargetShown =
    (iq::apply_run_environment(), benchmark::AddCustomContext("vector target", iq::vector_target()), true);

std::vector<std::uint8_t> noise_bytes(std::size_t count) {
  std::mt19937 rng(3);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(128 + static_cast<int>(rng() % 41) - 20);
  return bytes;
}

constexpr std::size_t kBytes = std::size_t{1} << 20;

void BM_VideoDetection(benchmark::State& state) {
  const auto bytes = noise_bytes(kBytes);
  // Points of 342 samples (2.4 MHz, 7 kHz), each summed from 0 as the detector does.
  constexpr std::size_t kPointSamples = 342;
  for (auto _ : state) {
    for (std::size_t at = 0; at + 2 * kPointSamples <= kBytes; at += 2 * kPointSamples) {
      float sum = iq::add_sample_powers(0.0f, bytes.data() + at, static_cast<std::int64_t>(kPointSamples));
      benchmark::DoNotOptimize(sum);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_VideoDetection);

void BM_FoldStep(benchmark::State& state) {
  const auto kind = state.range(0) == 0 ? iq::FoldedValue::amplitude : iq::FoldedValue::power;
  const auto bytes = noise_bytes(kBytes);
  for (auto _ : state) {
    double sum = 0.0;
    iq::add_run(kind, sum, bytes);
    benchmark::DoNotOptimize(sum);
  }
  state.SetLabel(state.range(0) == 0 ? "amplitude" : "power");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_FoldStep)->Arg(0)->Arg(1);

void BM_CorrelationSums(benchmark::State& state) {
  const std::size_t window = 1000;
  const std::size_t lags = 8192;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> factor(-0.9, 0.9);
  std::vector<iq::extended> weights(window, static_cast<iq::extended>(4.0) / window);
  std::vector<double> rounded(window, static_cast<double>(weights[0]));
  iq::SplitFactors factors;
  for (std::size_t k = 0; k < lags + window; ++k) {
    factors.high.push_back(factor(rng));
    factors.low.push_back(0.0);
  }
  const iq::LagTerms terms{weights, rounded, factors};
  std::vector<float> out(lags);
  for (auto _ : state) {
    if (state.range(0) == 0) {
      iq::sum_lags_extended(terms, 0, lags, out.data());
    } else {
      iq::sum_lags(terms, 0, lags, out.data());
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(state.range(0) == 0 ? "extended" : "fastest available");
  state.counters["terms/s"] = benchmark::Counter(
      static_cast<double>(window * lags) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CorrelationSums)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FormatFixed(benchmark::State& state) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> value(0.0, 2.0);
  std::vector<double> values(4096);
  for (double& v : values) v = value(rng);
  std::string text;
  for (auto _ : state) {
    text.clear();
    for (const double v : values) {
      if (state.range(0) == 0) {
        text += iq::cformat("%1.8f", v);
      } else {
        iq::append_fixed(text, v, 8);
      }
    }
    benchmark::DoNotOptimize(text.data());
  }
  state.SetLabel(state.range(0) == 0 ? "snprintf" : "append_fixed");
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}
BENCHMARK(BM_FormatFixed)->Arg(0)->Arg(1);

void BM_DumpLines(benchmark::State& state) {
  const auto bytes = noise_bytes(16384);
  iq::DumpFormatter formatter;
  for (auto _ : state) {
    const auto lines = formatter.lines(bytes, 123456789);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * 8192));
}
BENCHMARK(BM_DumpLines);

}  // namespace
