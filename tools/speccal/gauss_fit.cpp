// SPDX-License-Identifier: MIT
// Levenberg-Marquardt for sums of Gaussians: the normal equations damped by lambda times their
// diagonal, lambda cut tenfold after a step that lowers the squared residuals, raised tenfold
// after one that does not.
#include "gauss_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace iq {

namespace {

constexpr int kMaxIterations = 500;
constexpr double kFirstLambda = 1e-3;
constexpr double kMaxLambda = 1e12;
// Converged when a step lowers the squared residuals by less than this fraction.
constexpr double kTolerance = 1e-12;

using Matrix = std::vector<double>;  // n x n, row by row

// Solves a x = b by Gaussian elimination with partial pivoting; nothing if a is singular.
std::optional<std::vector<double>> solve(Matrix a, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < n; ++r) {
      if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col])) pivot = r;
    }
    if (!(std::fabs(a[pivot * n + col]) > 0.0)) return std::nullopt;
    for (std::size_t k = 0; k < n; ++k) std::swap(a[col * n + k], a[pivot * n + k]);
    std::swap(b[col], b[pivot]);
    for (std::size_t r = col + 1; r < n; ++r) {
      const double factor = a[r * n + col] / a[col * n + col];
      for (std::size_t k = col; k < n; ++k) a[r * n + k] -= factor * a[col * n + k];
      b[r] -= factor * b[col];
    }
  }
  std::vector<double> x(n);
  for (std::size_t r = n; r-- > 0;) {
    double sum = b[r];
    for (std::size_t k = r + 1; k < n; ++k) sum -= a[r * n + k] * x[k];
    x[r] = sum / a[r * n + r];
  }
  return x;
}

std::vector<Gaussian> components_of(const std::vector<double>& p) {
  std::vector<Gaussian> g(p.size() / 3);
  for (std::size_t k = 0; k < g.size(); ++k) g[k] = {p[3 * k], p[3 * k + 1], p[3 * k + 2]};
  return g;
}

double squared_residuals(std::span<const double> x, std::span<const double> y, const std::vector<double>& p) {
  const std::vector<Gaussian> g = components_of(p);
  double sum = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double r = y[i] - gaussian_sum(g, x[i]);
    sum += r * r;
  }
  return sum;
}

// J^T J and J^T r of the model at parameters p (peak, centre, sigma per component).
void normal_equations(std::span<const double> x, std::span<const double> y, const std::vector<double>& p,
                      Matrix& jtj, std::vector<double>& jtr) {
  const std::size_t n = p.size();
  jtj.assign(n * n, 0.0);
  jtr.assign(n, 0.0);
  const std::vector<Gaussian> g = components_of(p);
  std::vector<double> row(n);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t k = 0; k < g.size(); ++k) {
      const double d = x[i] - g[k].centre;
      const double s2 = g[k].sigma * g[k].sigma;
      const double e = std::exp(-d * d / (2.0 * s2));
      row[3 * k] = e;
      row[3 * k + 1] = g[k].peak * e * d / s2;
      row[3 * k + 2] = g[k].peak * e * d * d / (s2 * g[k].sigma);
    }
    const double r = y[i] - gaussian_sum(g, x[i]);
    for (std::size_t a = 0; a < n; ++a) {
      jtr[a] += row[a] * r;
      for (std::size_t b = 0; b < n; ++b) jtj[a * n + b] += row[a] * row[b];
    }
  }
}

// Starting values: each component at the highest point of what the earlier ones leave, its
// width from how many points stand above half that height.
std::vector<double> first_guess(std::span<const double> x, std::span<const double> y, int count) {
  std::vector<double> left(y.begin(), y.end());
  double spacing = std::fabs(x.back() - x.front()) / static_cast<double>(std::max<std::size_t>(x.size() - 1, 1));
  std::vector<double> p;
  for (int k = 0; k < count; ++k) {
    const auto top = static_cast<std::size_t>(std::max_element(left.begin(), left.end()) - left.begin());
    const double peak = left[top];
    const auto above = std::count_if(left.begin(), left.end(), [&](double v) { return v > peak / 2.0; });
    const double sigma = std::max(1.0, static_cast<double>(above)) * spacing / 2.3548200450309493;
    p.insert(p.end(), {peak, x[top], sigma});
    const Gaussian g[] = {{peak, x[top], sigma}};
    for (std::size_t i = 0; i < left.size(); ++i) left[i] -= gaussian_sum(g, x[i]);
  }
  return p;
}

// Damped steps from p until the squared residuals settle; false if they never do.
bool minimise(std::span<const double> x, std::span<const double> y, std::vector<double>& p) {
  double lambda = kFirstLambda;
  double chi2 = squared_residuals(x, y, p);
  Matrix jtj;
  std::vector<double> jtr;
  for (int iteration = 0; iteration < kMaxIterations; ++iteration) {
    normal_equations(x, y, p, jtj, jtr);
    for (;;) {
      Matrix damped = jtj;
      for (std::size_t a = 0; a < p.size(); ++a) damped[a * p.size() + a] *= 1.0 + lambda;
      const auto step = solve(damped, jtr);
      std::vector<double> trial = p;
      if (step) {
        for (std::size_t a = 0; a < p.size(); ++a) trial[a] += (*step)[a];
      }
      const double trial_chi2 = step ? squared_residuals(x, y, trial) : chi2;
      if (step && trial_chi2 < chi2) {
        const bool settled = chi2 - trial_chi2 <= kTolerance * chi2;
        p = trial;
        chi2 = trial_chi2;
        lambda /= 10.0;
        if (settled) return true;
        break;
      }
      lambda *= 10.0;
      if (lambda > kMaxLambda) return std::isfinite(chi2);  // no step lowers them: a minimum
    }
  }
  return false;
}

}  // namespace

double gaussian_sum(std::span<const Gaussian> components, double x) {
  double sum = 0.0;
  for (const Gaussian& g : components) {
    const double d = (x - g.centre) / g.sigma;
    sum += g.peak * std::exp(-0.5 * d * d);
  }
  return sum;
}

std::optional<GaussianFit> fit_gaussians(std::span<const double> x, std::span<const double> y, int count,
                                         double rms) {
  const auto n = static_cast<std::size_t>(3 * count);
  if (x.size() < n || count < 1) return std::nullopt;
  std::vector<double> p = first_guess(x, y, count);
  if (!minimise(x, y, p)) return std::nullopt;
  for (std::size_t k = 2; k < n; k += 3) p[k] = std::fabs(p[k]);
  Matrix jtj;
  std::vector<double> jtr;
  normal_equations(x, y, p, jtj, jtr);
  std::vector<double> deviation(n);
  for (std::size_t a = 0; a < n; ++a) {
    std::vector<double> unit(n, 0.0);
    unit[a] = 1.0;
    const auto column = solve(jtj, unit);
    if (!column || !((*column)[a] >= 0.0) || !std::isfinite((*column)[a])) return std::nullopt;
    deviation[a] = std::sqrt((*column)[a]) * rms;
  }
  // Components in order of their centres, each with its own uncertainties.
  const std::vector<Gaussian> found = components_of(p);
  const std::vector<Gaussian> errors = components_of(deviation);
  std::vector<std::size_t> order(found.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return found[a].centre < found[b].centre; });
  GaussianFit fit;
  for (const std::size_t k : order) {
    fit.components.push_back(found[k]);
    fit.errors.push_back(errors[k]);
  }
  return fit;
}

}  // namespace iq
