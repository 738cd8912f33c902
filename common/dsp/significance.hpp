// SPDX-License-Identifier: MIT
// How surprising a statistic is under noise: the tail of the chi-square distribution, its
// Gaussian-sigma equivalent and the correction for the best of many trials, all as natural
// logarithms so that a strong detection (a tail of 1e-5000) keeps its digits.
//
// Precision: double. These values are printed with two or three significant digits and never
// feed back into a table, so the library's lgamma, erfc, log and exp suffice.
#pragma once

namespace iq {

// ln P(X >= chi2) for X chi-square distributed with `dof` degrees of freedom (dof > 0). 0 for
// chi2 <= 0. Computed as the regularised upper incomplete gamma function Q(dof / 2, chi2 / 2):
// its series below the mode and its continued fraction above, the prefactor in logarithms.
double log_chi_square_tail(double chi2, double dof);

// ln P(Z >= z) for a standard Gaussian Z (one-sided).
double log_gaussian_tail(double z);

// The z whose one-sided Gaussian tail has the logarithm `log_tail` (<= 0): the sigma
// equivalent of a probability. Between -40 and the largest z that a double tail reaches.
double gaussian_sigma(double log_tail);

// ln of the probability that at least one of `trials` independent tries, each with the
// probability exp(log_tail), reaches it: 1 - (1 - p)^trials. For correlated tries this is an
// upper bound, so a search is never called more significant than it is.
double log_any_of_trials(double log_tail, double trials);

// The chi-square with `dof` degrees of freedom whose significance as the best of `trials` (as
// above) is `sigma`: the smallest chi-square a search must reach to count as a detection at
// that threshold. Infinity when no chi-square a double holds reaches it.
double chi_square_at_sigma(double sigma, double dof, double trials);

}  // namespace iq
