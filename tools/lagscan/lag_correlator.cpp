// SPDX-License-Identifier: MIT
// Cross-correlation of capture amplitudes, fast and bit-identical to the term-by-term sums.
#include "lag_correlator.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace iq {

namespace {

// Lag positions per unit of work shared among the workers: a multiple of the vector group.
constexpr std::size_t kChunkLags = 256;

// Amplitude of a complex sample from its two bytes: the sum of squares of the normalised
// components is exact in extended precision; its root is taken in double precision and then
// rounded to single precision. The components are odd multiples of 2^-8 below 1, so the sum is
// a whole number of 2^-16 below 2^17 of them: exact in double precision too, where it is formed.
float amplitude(std::uint8_t i_byte, std::uint8_t q_byte) {
  const double i = kNormalisedCu8[i_byte];
  const double q = kNormalisedCu8[q_byte];
  return static_cast<float>(std::sqrt(i * i + q * q));
}

// The distances of a sample's I and Q bytes from the centre (0..127 each), which decide its
// amplitude (the normalised components of b and 255 - b differ only in sign).
std::uint16_t amplitude_key(std::uint8_t i_byte, std::uint8_t q_byte) {
  const auto distance = [](std::uint8_t b) { return b < 128 ? 127 - b : b - 128; };
  return static_cast<std::uint16_t>(distance(i_byte) * 128 + distance(q_byte));
}

void block_amplitudes(std::span<const std::uint8_t> bytes, float* out, std::uint16_t* keys) {
  for (std::size_t k = 0; k < static_cast<std::size_t>(kBlockSamples); ++k) {
    out[k] = amplitude(bytes[2 * k], bytes[2 * k + 1]);
    keys[k] = amplitude_key(bytes[2 * k], bytes[2 * k + 1]);
  }
}

// amplitude / mean - 1 for the first `count` amplitudes, split into two exact doubles; each
// factor is formed once for its amplitude key (the mean is fixed after block 0) and kept.
void split_factors(const float* amplitudes, const std::uint16_t* keys, float mean, std::size_t count,
                   SplitFactors& memo, std::vector<std::uint8_t>& known, SplitFactors& out) {
  out.high.resize(count);
  out.low.resize(count);
  for (std::size_t x = 0; x < count; ++x) {
    const std::uint16_t key = keys[x];
    if (known[key] == 0) {
      const extended factor = static_cast<extended>(amplitudes[x]) / mean - 1;
      memo.high[key] = static_cast<double>(factor);
      memo.low[key] = static_cast<double>(factor - memo.high[key]);  // at most 11 significant bits: exact
      known[key] = 1;
    }
    out.high[x] = memo.high[key];
    out.low[x] = memo.low[key];
  }
}

void update_peak(LagPeak& peak, std::span<const float> coefficients, std::int64_t first_lag) {
  for (std::size_t i = 0; i < coefficients.size(); ++i) {
    if (coefficients[i] > peak.value) {  // strictly greater: an equal later value keeps the first
      peak.value = coefficients[i];
      peak.lag = first_lag + static_cast<std::int64_t>(i);
    }
  }
}

}  // namespace

LagCorrelator::LagCorrelator(std::int32_t window, unsigned workers)
    : window_(window),
      workers_(std::max(workers, 1u)),
      amplitudes1_(static_cast<std::size_t>(kBlockSamples + kMaxWindow)),
      amplitudes2_(amplitudes1_.size()),
      keys1_(amplitudes1_.size()),
      keys2_(amplitudes1_.size()),
      memo1_{std::vector<double>(kAmplitudeKeys), std::vector<double>(kAmplitudeKeys)},
      memo2_(memo1_),
      known1_(kAmplitudeKeys),
      known2_(kAmplitudeKeys),
      coefficients1_(static_cast<std::size_t>(kBlockSamples)),
      coefficients2_(coefficients1_.size()) {
  if (window < 0 || window > kMaxWindow) throw std::invalid_argument("window length outside 0..1192");
}

void LagCorrelator::take_reference_window(int capture) {
  if (window_ == 0) return;  // no window: the means stay 0 and no term is ever formed
  const std::vector<float>& amplitudes = capture == 1 ? amplitudes1_ : amplitudes2_;
  float& mean = capture == 1 ? mean1_ : mean2_;
  std::vector<extended>& weights = capture == 1 ? weights1_ : weights2_;
  std::vector<double>& rounded_weights = capture == 1 ? rounded_weights1_ : rounded_weights2_;
  // The mean is a sum of amplitudes scaled by 1/L, not a sum divided by L at the end.
  const auto start = static_cast<std::size_t>(kLagOrigin);
  const auto window = static_cast<std::size_t>(window_);
  const extended scale = widen(1.0) / static_cast<extended>(window_);
  for (std::size_t k = start; k < start + window; ++k) mean = static_cast<float>(mean + scale * amplitudes[k]);
  const extended weight = widen(4.0) / static_cast<extended>(window_);
  weights.resize(window);
  rounded_weights.resize(window);
  for (std::size_t j = 0; j < window; ++j) {
    weights[j] = weight * (static_cast<extended>(amplitudes[start + j]) / mean - 1);
    rounded_weights[j] = static_cast<double>(weights[j]);
  }
}

void LagCorrelator::compute_coefficients() {
  if (window_ == 0) {  // no window: no terms, every coefficient stays 0
    std::fill(coefficients1_.begin(), coefficients1_.end(), 0.0f);
    std::fill(coefficients2_.begin(), coefficients2_.end(), 0.0f);
    return;
  }
  // The sums of every position are independent; the workers share them in chunks.
  const LagTerms one_on_two{weights1_, rounded_weights1_, factors2_};
  const LagTerms two_on_one{weights2_, rounded_weights2_, factors1_};
  const std::size_t chunks_per_direction = (lags_ + kChunkLags - 1) / kChunkLags;
  workers_.run(2 * chunks_per_direction, [&](std::size_t chunk) {
    const std::size_t begin = (chunk % chunks_per_direction) * kChunkLags;
    const std::size_t end = std::min(begin + kChunkLags, lags_);
    if (chunk < chunks_per_direction) {
      sum_lags(one_on_two, begin, end, coefficients1_.data());
    } else {
      sum_lags(two_on_one, begin, end, coefficients2_.data());
    }
  });
}

void LagCorrelator::add_block(std::span<const std::uint8_t> block1, std::span<const std::uint8_t> block2) {
  const bool carry = blocks_ > 0;
  const std::size_t carried = carry ? static_cast<std::size_t>(window_) : 0;
  lags_ = static_cast<std::size_t>(kBlockSamples) - (carry ? 0 : static_cast<std::size_t>(window_));
  // Window positions 0..lags-1 reach entries up to lags + L - 2 of the series.
  const std::size_t used = lags_ + static_cast<std::size_t>(window_) - 1;
  // The two captures' amplitudes, reference windows and factors, one capture per worker.
  workers_.run(2, [&](std::size_t c) {
    const int capture = c == 0 ? 1 : 2;
    std::vector<float>& amplitudes = capture == 1 ? amplitudes1_ : amplitudes2_;
    std::vector<std::uint16_t>& keys = capture == 1 ? keys1_ : keys2_;
    block_amplitudes(capture == 1 ? block1 : block2, amplitudes.data() + carried, keys.data() + carried);
    if (!carry) take_reference_window(capture);
    if (window_ > 0)
      split_factors(amplitudes.data(), keys.data(), capture == 1 ? mean1_ : mean2_, used,
                    capture == 1 ? memo1_ : memo2_, capture == 1 ? known1_ : known2_,
                    capture == 1 ? factors1_ : factors2_);
  });
  compute_coefficients();

  // Position i starts at absolute sample 8192 * block + i - carried.
  first_lag_ = kBlockSamples * blocks_ - static_cast<std::int64_t>(carried) - kLagOrigin;
  update_peak(peak1_, one_on_two(), first_lag_);
  update_peak(peak2_, two_on_one(), first_lag_);
  ++blocks_;

  // The last L amplitudes enter the windows of the next block.
  const std::size_t source = static_cast<std::size_t>(kBlockSamples) + carried - static_cast<std::size_t>(window_);
  const std::size_t bytes = static_cast<std::size_t>(window_) * sizeof(float);
  std::memmove(amplitudes1_.data(), amplitudes1_.data() + source, bytes);
  std::memmove(amplitudes2_.data(), amplitudes2_.data() + source, bytes);
  const std::size_t key_bytes = static_cast<std::size_t>(window_) * sizeof(std::uint16_t);
  std::memmove(keys1_.data(), keys1_.data() + source, key_bytes);
  std::memmove(keys2_.data(), keys2_.data() + source, key_bytes);
}

}  // namespace iq
