// SPDX-License-Identifier: MIT
// The chi-square and Gaussian tails in logarithms, and their use for a search over trials.
#include "dsp/significance.hpp"

#include <cmath>
#include <limits>
#include <numbers>

namespace iq {

namespace {

constexpr double kEpsilon = 1e-16;
constexpr int kMaxTerms = 100000;
constexpr double kTiny = 1e-300;

// ln of x^a e^-x / Gamma(a), the factor shared by the series and the continued fraction.
double log_prefactor(double a, double x) { return a * std::log(x) - x - std::lgamma(a); }

// ln P(a, x) by the series P = prefactor * sum_n x^n / (a (a+1) ... (a+n)); for x < a + 1,
// where its terms fall off at once.
double log_lower_gamma_series(double a, double x) {
  double term = 1.0 / a;
  double sum = term;
  for (int n = 1; n < kMaxTerms; ++n) {
    term *= x / (a + n);
    sum += term;
    if (term < sum * kEpsilon) break;
  }
  return log_prefactor(a, x) + std::log(sum);
}

// ln Q(a, x) by the continued fraction of Q (modified Lentz), for x >= a + 1.
double log_upper_gamma_fraction(double a, double x) {
  double b = x + 1.0 - a;
  double c = 1.0 / kTiny;
  double d = 1.0 / b;
  double h = d;
  for (int i = 1; i < kMaxTerms; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1.0 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1.0) < kEpsilon) break;
  }
  return log_prefactor(a, x) + std::log(h);
}

}  // namespace

double log_chi_square_tail(double chi2, double dof) {
  if (!(chi2 > 0.0)) return 0.0;
  const double a = dof / 2.0;
  const double x = chi2 / 2.0;
  if (x < a + 1.0) {
    // Below the mode Q is not small: 1 - P loses nothing that a printed figure shows.
    return std::log1p(-std::exp(log_lower_gamma_series(a, x)));
  }
  return log_upper_gamma_fraction(a, x);
}

double log_gaussian_tail(double z) {
  if (z < 30.0) return std::log(0.5 * std::erfc(z / std::numbers::sqrt2));
  // Far out, erfc underflows: the asymptotic series of the Mills ratio, whose next term is
  // below 1e-12 of the sum from z = 30 on.
  const double r = 1.0 / (z * z);
  const double series = 1.0 - r * (1.0 - 3.0 * r * (1.0 - 5.0 * r * (1.0 - 7.0 * r)));
  return -0.5 * z * z - std::log(z) - 0.5 * std::log(2.0 * std::numbers::pi) + std::log(series);
}

double gaussian_sigma(double log_tail) {
  // The tail falls monotonically with z; bisection between bounds that bracket the answer
  // (ln tail <= -z^2 / 2 above z = 1, so z never exceeds sqrt(-2 ln tail) + 1).
  double lo = -40.0;
  double hi = log_tail < 0.0 ? std::sqrt(-2.0 * log_tail) + 1.0 : 1.0;
  if (!std::isfinite(hi)) return std::numeric_limits<double>::infinity();
  for (int i = 0; i < 200 && hi - lo > 1e-12 * (1.0 + std::fabs(hi)); ++i) {
    const double mid = 0.5 * (lo + hi);
    if (log_gaussian_tail(mid) > log_tail) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return 0.5 * (lo + hi);
}

double log_any_of_trials(double log_tail, double trials) {
  if (trials <= 1.0) return log_tail;
  // 1 - (1 - p)^n = -expm1(n log1p(-p)); once p is tiny, n p itself (to 1 part in 1e9).
  if (log_tail < -40.0) return std::log(trials) + log_tail;
  const double p = std::exp(log_tail);
  return std::log(-std::expm1(trials * std::log1p(-p)));
}

double chi_square_at_sigma(double sigma, double dof, double trials) {
  const auto sigma_of = [&](double chi2) {
    return gaussian_sigma(log_any_of_trials(log_chi_square_tail(chi2, dof), trials));
  };
  // The significance grows with the chi-square: double an upper bound until it is reached,
  // then bisect.
  double lo = 0.0;
  double hi = dof + 1.0;
  while (sigma_of(hi) < sigma) {
    lo = hi;
    hi *= 2.0;
    if (!std::isfinite(hi) || hi > 1e300) return std::numeric_limits<double>::infinity();
  }
  for (int i = 0; i < 200 && hi - lo > 1e-12 * hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (sigma_of(mid) < sigma) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return hi;
}

}  // namespace iq
