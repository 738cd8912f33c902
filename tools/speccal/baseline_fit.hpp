// SPDX-License-Identifier: MIT
// Least-squares polynomial baselines: the polynomial of a chosen order that fits a spectrum's
// bins outside a line window, in double precision.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace iq {

// A fitted polynomial in x = bin / scale: value(bin) = sum_j coefficients[j] * x^j.
struct Baseline {
  double scale = 1.0;
  std::vector<double> coefficients;
  double value(double bin) const;
};

// Fits a polynomial of `order` to the points (bins[i], values[i]) by least squares. The bins are
// scaled into [-1, 1] and the Vandermonde system solved by Householder QR, in double precision
// throughout: no normal equations, whose squared condition number would lose half the digits
// at high orders. Needs at least order + 1 points (the caller checks).
Baseline fit_baseline(std::span<const double> bins, std::span<const double> values, int order);

}  // namespace iq
