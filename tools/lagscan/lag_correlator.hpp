// SPDX-License-Identifier: MIT
// Normalised cross-correlation of the amplitudes of two simultaneous captures over all lags,
// block by block, in both directions ("1 on 2": the reference window of capture 1 slid along
// capture 2; "2 on 1" the other way round).
//
// Arithmetic: every expression is evaluated in extended precision (64-bit significand), the
// rule for all of this toolkit's arithmetic, never merely in double precision, and rounded
// only where it is stored. Amplitudes, means and coefficients are single precision; each mean and each
// coefficient is an accumulator rounded to single precision after every addition, its terms
// added in ascending order. The term of window entry j at lag position i is
//   (4.0 / L) * (window[j] / mean - 1) * (searched[i + j] / other_mean - 1)
// evaluated left to right, each operation rounded to extended precision.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dsp/capture_format.hpp"
#include "dsp/chunk_workers.hpp"
#include "dsp/lag_sums.hpp"
#include "io/lag_origin.hpp"
#include "arith/precision.hpp"

namespace iq {

// The largest coefficient of one direction so far, and the lag of the window position that
// gave it first. A direction whose coefficients never exceed 0 keeps 0 at lag -7000.
struct LagPeak {
  float value = 0.0f;
  std::int64_t lag = -kLagOrigin;
};

class LagCorrelator {
 public:
  // The reference window must lie inside block 0: it starts at sample 7000 of 8192.
  static constexpr std::int32_t kMaxWindow = static_cast<std::int32_t>(kBlockSamples - kLagOrigin);

  // window: L, the reference window length in samples, 0..kMaxWindow (else invalid_argument).
  // workers: threads that share the coefficient sums of a block (1 or more); the results do
  // not depend on it.
  LagCorrelator(std::int32_t window, unsigned workers);

  // Takes the next block of each capture (kBlockBytes bytes each, interleaved I and Q) and
  // computes the coefficients of the block's lag positions and the updated peaks.
  void add_block(std::span<const std::uint8_t> block1, std::span<const std::uint8_t> block2);

  std::int64_t blocks() const { return blocks_; }
  // Lag of the last block's first position: positions i of that block have lag first_lag() + i.
  std::int64_t first_lag() const { return first_lag_; }
  // Coefficients of the last block, one per lag position.
  std::span<const float> one_on_two() const { return {coefficients1_.data(), lags_}; }
  std::span<const float> two_on_one() const { return {coefficients2_.data(), lags_}; }
  const LagPeak& peak_one_on_two() const { return peak1_; }
  const LagPeak& peak_two_on_one() const { return peak2_; }
  // The threads the sums run on, free between blocks.
  ChunkWorkers& workers() { return workers_; }
  // The two parts of every term, as the sums use them: weight j of the window of capture 1 or
  // 2, and the normalised factor of entry x of the last block's amplitude series of capture 1
  // or 2 (x below the last block's lags + L - 1).
  extended weight(int capture, std::size_t j) const { return (capture == 1 ? weights1_ : weights2_)[j]; }
  extended factor(int capture, std::size_t x) const {
    const SplitFactors& factors = capture == 1 ? factors1_ : factors2_;
    return static_cast<extended>(factors.high[x]) + factors.low[x];
  }

 private:
  // The mean and the weights of capture 1's or 2's reference window.
  void take_reference_window(int capture);
  void compute_coefficients();

  std::int32_t window_;
  ChunkWorkers workers_;
  std::int64_t blocks_ = 0;
  std::int64_t first_lag_ = 0;
  std::size_t lags_ = 0;
  // Amplitude series of each capture: in block 0 the block's amplitudes; later the last L
  // amplitudes of the previous step followed by the new block.
  std::vector<float> amplitudes1_;
  std::vector<float> amplitudes2_;
  // The amplitude key of each entry of the series (the distances of I and Q from the centre).
  std::vector<std::uint16_t> keys1_;
  std::vector<std::uint16_t> keys2_;
  // The split factor of every amplitude key seen so far, and which keys those are.
  static constexpr std::size_t kAmplitudeKeys = 128 * 128;
  SplitFactors memo1_;
  SplitFactors memo2_;
  std::vector<std::uint8_t> known1_;
  std::vector<std::uint8_t> known2_;
  float mean1_ = 0.0f;
  float mean2_ = 0.0f;
  // (4.0 / L) * (window[j] / mean - 1) of each reference window, fixed after block 0.
  std::vector<extended> weights1_;
  std::vector<extended> weights2_;
  std::vector<double> rounded_weights1_;
  std::vector<double> rounded_weights2_;
  SplitFactors factors1_;
  SplitFactors factors2_;
  std::vector<float> coefficients1_;
  std::vector<float> coefficients2_;
  LagPeak peak1_;
  LagPeak peak2_;
};

}  // namespace iq
