// SPDX-License-Identifier: MIT
// Least-squares polynomial baselines by Householder QR.
#include "baseline_fit.hpp"

#include <algorithm>
#include <cmath>

namespace iq {

double Baseline::value(double bin) const {
  const double x = bin / scale;
  double sum = 0.0;
  for (auto c = coefficients.rbegin(); c != coefficients.rend(); ++c) sum = sum * x + *c;
  return sum;
}

Baseline fit_baseline(std::span<const double> bins, std::span<const double> values, int order) {
  Baseline fit;
  for (const double bin : bins) fit.scale = std::max(fit.scale, std::fabs(bin));
  const std::size_t m = bins.size();
  const auto n = static_cast<std::size_t>(order) + 1;
  // Column j of the Vandermonde matrix holds x^j; columns are reflected in place, and the part
  // of column j below the diagonal ends up holding its Householder vector.
  std::vector<std::vector<double>> a(n, std::vector<double>(m));
  for (std::size_t i = 0; i < m; ++i) {
    const double x = bins[i] / fit.scale;
    double power = 1.0;
    for (std::size_t j = 0; j < n; ++j) {
      a[j][i] = power;
      power *= x;
    }
  }
  std::vector<double> y(values.begin(), values.end());
  std::vector<double> diagonal(n);
  for (std::size_t j = 0; j < n; ++j) {
    std::vector<double>& v = a[j];
    double norm_squared = 0.0;
    for (std::size_t i = j; i < m; ++i) norm_squared += v[i] * v[i];
    const double norm = std::sqrt(norm_squared);
    // The sign that avoids cancellation: v = column - alpha e_j with alpha opposite the pivot.
    const double alpha = v[j] > 0.0 ? -norm : norm;
    diagonal[j] = alpha;
    v[j] -= alpha;
    double v_squared = 0.0;
    for (std::size_t i = j; i < m; ++i) v_squared += v[i] * v[i];
    if (v_squared == 0.0) continue;  // the column is already reduced
    const auto reflect = [&](std::vector<double>& column) {
      double dot = 0.0;
      for (std::size_t i = j; i < m; ++i) dot += v[i] * column[i];
      const double factor = 2.0 * dot / v_squared;
      for (std::size_t i = j; i < m; ++i) column[i] -= factor * v[i];
    };
    for (std::size_t k = j + 1; k < n; ++k) reflect(a[k]);
    reflect(y);
  }
  // R c = (Q^T y) for the first n rows: R's diagonal is `diagonal`, above it a[k][j] (k > j).
  fit.coefficients.assign(n, 0.0);
  for (std::size_t j = n; j-- > 0;) {
    double sum = y[j];
    for (std::size_t k = j + 1; k < n; ++k) sum -= a[k][j] * fit.coefficients[k];
    fit.coefficients[j] = sum / diagonal[j];
  }
  return fit;
}

}  // namespace iq
