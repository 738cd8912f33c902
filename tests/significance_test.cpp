// SPDX-License-Identifier: MIT
// The chi-square and Gaussian tails against values computed to 40 digits elsewhere, far into
// the tails where the probabilities underflow a double, and the correction for many trials.
#include <gtest/gtest.h>

#include <cmath>

#include "dsp/significance.hpp"

namespace iq {
namespace {

// Relative agreement of logarithms; an absolute floor where the value is near 0.
void expect_close(double got, double want, double relative, const char* what) {
  EXPECT_NEAR(got, want, relative * std::fabs(want) + 1e-13) << what << " want " << want;
}

TEST(SignificanceTest, ChiSquareTailOnBothSidesOfTheModeAndFarOut) {
  struct Case {
    double dof;
    double chi2;
    double log_tail;  // ln Q(dof / 2, chi2 / 2), 40-digit reference
  };
  const Case cases[] = {
      {1, 0.5, -0.7350111298370844},       {1, 30, -16.95731815812879},       {3, 2, -0.55790551845634767},
      {7, 40, -13.585359308128414},        {99, 99, -0.73168654807270467},    {99, 150, -7.235640932049027},
      {99, 400, -85.373233976567099},      {99, 1e5, -49617.85706557593},     {199, 150, -0.0039305170540650167},
      {1023, 900, -0.0023912909260382598}, {1023, 5000, -1182.2999504695423}, {8191, 8191, -0.69731174839949139},
      {8191, 9000, -21.53931388912498},
  };
  for (const Case& c : cases) expect_close(log_chi_square_tail(c.chi2, c.dof), c.log_tail, 1e-10, "chi2");
  // Two degrees of freedom: the tail is exp(-chi2 / 2) exactly, however far out.
  for (const double chi2 : {0.001, 1.0, 3.0, 50.0, 1e4, 1e7}) {
    expect_close(log_chi_square_tail(chi2, 2), -chi2 / 2, 1e-12, "two dof");
  }
  EXPECT_EQ(log_chi_square_tail(0.0, 99), 0.0);
  EXPECT_EQ(log_chi_square_tail(-1.0, 99), 0.0);
}

TEST(SignificanceTest, GaussianTailAndItsInverse) {
  struct Case {
    double z;
    double log_tail;  // ln P(Z >= z), 40-digit reference
  };
  const Case cases[] = {
      {-3, -0.0013508099647481938}, {0, -0.69314718055994531},   {1, -1.8410216450092635},
      {4, -10.360101486527291},     {5, -15.064998393988726},    {8, -35.01343715991455},
      {20, -203.91715537109726},    {29.9, -451.32291245852863}, {30.1, -457.32956441638226},
      {40, -804.60844201375379},    {100, -5005.5242086942051},  {1000, -500007.82669481218},
  };
  for (const Case& c : cases) {
    expect_close(log_gaussian_tail(c.z), c.log_tail, 1e-11, "tail");
    EXPECT_NEAR(gaussian_sigma(c.log_tail), c.z, 1e-8 * (1 + std::fabs(c.z))) << c.z;
  }
  EXPECT_NEAR(gaussian_sigma(std::log(2.866515718791939e-07)), 5.0, 1e-9);
}

TEST(SignificanceTest, BestOfManyTrials) {
  struct Case {
    double p;
    double trials;
    double want;  // 1 - (1 - p)^trials
  };
  const Case cases[] = {
      {0.5, 1, 0.5},
      {0.5, 2, 0.75},
      {0.1, 10, 1 - std::pow(0.9, 10)},
      {1e-6, 1000, 1 - std::pow(1 - 1e-6, 1000)},
  };
  for (const Case& c : cases)
    expect_close(log_any_of_trials(std::log(c.p), c.trials), std::log(c.want), 1e-9, "trials");
  // Far out the probability is the trial count times the single one, in logarithms.
  expect_close(log_any_of_trials(-5000.0, 1000), -5000.0 + std::log(1000.0), 1e-15, "far");
  expect_close(log_any_of_trials(-30.0, 1000), -30.0 + std::log(1000.0), 1e-9, "near");
}

// The threshold's chi-square against closed forms: with one degree of freedom chi-square is
// Z^2 (two-sided), with two its tail is exp(-chi2 / 2), and n trials reach p' = 1 - (1 - p)^n.
TEST(SignificanceTest, ChiSquareAtAThresholdInvertsTheSearchsSignificance) {
  for (const double sigma : {3.0, 5.0, 8.0}) {
    const double p = std::exp(log_gaussian_tail(sigma));
    const double z = gaussian_sigma(std::log(p / 2.0));
    expect_close(chi_square_at_sigma(sigma, 1, 1), z * z, 1e-9, "one degree of freedom");
    for (const double trials : {1.0, 1000.0}) {
      const double single = -std::expm1(std::log1p(-p) / trials);
      expect_close(chi_square_at_sigma(sigma, 2, trials), -2.0 * std::log(single), 1e-9, "two degrees");
    }
    // More degrees of freedom or more trials need a larger chi-square for the same threshold.
    EXPECT_LT(chi_square_at_sigma(sigma, 99, 1), chi_square_at_sigma(sigma, 99, 1000));
    EXPECT_LT(chi_square_at_sigma(sigma, 99, 1000), chi_square_at_sigma(sigma, 199, 1000));
    EXPECT_LT(chi_square_at_sigma(sigma, 99, 1000), chi_square_at_sigma(sigma + 0.1, 99, 1000));
  }
}

}  // namespace
}  // namespace iq
