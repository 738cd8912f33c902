// SPDX-License-Identifier: MIT
// The coefficient sums of the cross-correlator: for each lag position i,
//   sum over j = 0..L-1, ascending, of weight[j] * factor[i + j],
// with the product rounded to extended precision, each addition done in extended precision and
// the sum rounded to single precision after every addition.
//
// Two evaluations give the same bits. The extended one does exactly that. The vector one
// (Highway, every vector target) does each step in double precision, a vector of lags at a
// time, and proves per
// step that the single-precision result cannot differ from the extended one; the rare step it
// cannot prove is redone in extended precision (see lag_sums.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "arith/precision.hpp"

namespace iq {

// Normalised amplitude factors (amplitude / mean - 1, extended precision), each held exactly as
// the sum of two doubles: loading two doubles is much cheaper than loading an extended value,
// their extended sum restores the factor bit for bit, and the high part alone is the factor
// rounded to double.
struct SplitFactors {
  std::vector<double> high;
  std::vector<double> low;
};

// The parts of one direction's sums.
struct LagTerms {
  const std::vector<extended>& weights;        // one per window entry j
  const std::vector<double>& rounded_weights;  // the same rounded to double
  const SplitFactors& factors;                 // one per entry of the searched series
};

// Coefficients of lag positions [begin, end) into out[begin..end), in extended precision.
void sum_lags_extended(const LagTerms& terms, std::size_t begin, std::size_t end, float* out);

// Whether the vector evaluation runs: the chosen target (dsp/vector_target.hpp) has a kernel
// for it and the kernels are not turned off.
bool vector_sums_supported();

// The same coefficients by the vector evaluation (the extended one where the target has no
// kernel, and for the positions past the last whole group of vectors). A step
// is redone in extended precision unless its result is certain with an error bound of
// `margin` * (|sum| + |term|); the default holds the bound with room to spare, larger margins
// only send more steps to the extended evaluation.
inline constexpr double kVectorSumMargin = 0x1p-49;
void sum_lags_vector(const LagTerms& terms, std::size_t begin, std::size_t end, float* out,
                     double margin = kVectorSumMargin);

// The vector evaluation where supported, else the extended one.
void sum_lags(const LagTerms& terms, std::size_t begin, std::size_t end, float* out);

}  // namespace iq
