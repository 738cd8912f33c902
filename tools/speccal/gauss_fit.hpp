// SPDX-License-Identifier: MIT
// Least-squares fits of a sum of Gaussians to a line profile, by Levenberg-Marquardt in double
// precision, with each parameter's uncertainty from the noise of the points.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace iq {

// One component, a exp(-(x - centre)^2 / (2 sigma^2)).
struct Gaussian {
  double peak = 0.0;
  double centre = 0.0;
  double sigma = 0.0;
};

// The sum of the components at x.
double gaussian_sum(std::span<const Gaussian> components, double x);

struct GaussianFit {
  std::vector<Gaussian> components;
  // Each parameter's standard deviation: rms * sqrt of the diagonal of (J^T J)^-1 at the
  // solution, J the model's derivatives at the points.
  std::vector<Gaussian> errors;
};

// Fits `count` components to the points (x[i], y[i]), starting from the highest points of what
// the components found before leave. Nothing when there are fewer points than parameters, the
// fit does not converge, or a parameter's uncertainty is not finite.
std::optional<GaussianFit> fit_gaussians(std::span<const double> x, std::span<const double> y, int count,
                                         double rms);

}  // namespace iq
