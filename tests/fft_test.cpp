// The FFT: textbook properties, and bit-identity with a plain transcription of the classic
// routine (kept here as the reference for every faster arrangement).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "fft.hpp"

namespace iq {
namespace {

// The classic routine as written: 1-based positions, twiddles by recurrence inside the stage,
// twiddle-outer loop order, every expression in long double and rounded where stored.
void plain_four(double* data, long nn, int isign) {
  using ld = long double;
  const long n = nn << 1;
  long j = 1;
  for (long i = 1; i < n; i += 2) {
    if (j > i) {
      std::swap(data[j], data[i]);
      std::swap(data[j + 1], data[i + 1]);
    }
    long m = nn;
    while (m >= 2 && j > m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }
  long mmax = 2;
  while (n > mmax) {
    const long istep = mmax << 1;
    const double theta = static_cast<double>(static_cast<ld>(6.28318530717959) / static_cast<ld>(isign * mmax));
    const double wtemp = std::sin(static_cast<double>(static_cast<ld>(0.5) * theta));
    const double wpr = static_cast<double>(static_cast<ld>(-2.0) * wtemp * wtemp);
    const double wpi = std::sin(theta);
    double wr = 1.0;
    double wi = 0.0;
    for (long m = 1; m < mmax; m += 2) {
      for (long i = m; i <= n; i += istep) {
        j = i + mmax;
        const double tempr = static_cast<double>(static_cast<ld>(wr) * data[j] - static_cast<ld>(wi) * data[j + 1]);
        const double tempi = static_cast<double>(static_cast<ld>(wr) * data[j + 1] + static_cast<ld>(wi) * data[j]);
        data[j] = static_cast<double>(static_cast<ld>(data[i]) - tempr);
        data[j + 1] = static_cast<double>(static_cast<ld>(data[i + 1]) - tempi);
        data[i] = static_cast<double>(static_cast<ld>(data[i]) + tempr);
        data[i + 1] = static_cast<double>(static_cast<ld>(data[i + 1]) + tempi);
      }
      const double wr_old = wr;
      wr = static_cast<double>(static_cast<ld>(wr_old) * wpr - static_cast<ld>(wi) * wpi + wr);
      wi = static_cast<double>(static_cast<ld>(wi) * wpr + static_cast<ld>(wr_old) * wpi + wi);
    }
    mmax = istep;
  }
  if (isign == 1) {
    for (long i = 1; i <= n; ++i) data[i] = static_cast<double>(data[i] / static_cast<ld>(nn));
  }
}

std::vector<double> random_frame(std::int32_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<double> frame(2 * static_cast<std::size_t>(n));
  // Capture-like values (odd multiples of 1/256) and, for variety, arbitrary doubles.
  for (std::size_t k = 0; k < frame.size(); ++k) {
    frame[k] = (seed % 2 == 0) ? (static_cast<int>(rng() % 256) - 127.5) / 128.0
                               : std::ldexp(static_cast<double>(rng()) - 2147483648.0, -20);
  }
  return frame;
}

TEST(Fft, PlanIsBitIdenticalToPlainRoutineForEverySize) {
  for (int log_n = 0; log_n <= 18; ++log_n) {
    const std::int32_t n = 1 << log_n;
    for (int sign : {-1, 1}) {
      if (sign == 1 && log_n > 12) continue;
      for (std::uint32_t seed : {1u, 2u}) {
        std::vector<double> expected = random_frame(n, seed + static_cast<std::uint32_t>(log_n) * 7);
        std::vector<double> actual = expected;
        plain_four(expected.data() - 1, n, sign);
        FftPlan(n, sign).transform(actual.data());
        ASSERT_EQ(0, std::memcmp(expected.data(), actual.data(), expected.size() * sizeof(double)))
            << "N = " << n << ", sign " << sign << ", seed " << seed;
      }
    }
  }
}

TEST(Fft, ClassicEntryPointTakesTheOneBasedView) {
  std::vector<double> expected = random_frame(64, 3);
  std::vector<double> actual = expected;
  plain_four(expected.data() - 1, 64, -1);
  four(actual.data() - 1, 64, -1);
  EXPECT_EQ(expected, actual);
}

TEST(Fft, SinglePointIsUnchanged) {
  std::vector<double> frame{0.25, -0.75};
  FftPlan(1, -1).transform(frame.data());
  EXPECT_EQ(frame, (std::vector<double>{0.25, -0.75}));
}

TEST(Fft, ConstantInputGoesToBinZeroUnscaled) {
  const std::int32_t n = 32;
  std::vector<double> frame(2 * n);
  for (std::int32_t t = 0; t < n; ++t) {
    frame[2 * t] = 0.5;
    frame[2 * t + 1] = -0.25;
  }
  FftPlan(n, -1).transform(frame.data());
  EXPECT_DOUBLE_EQ(frame[0], n * 0.5);
  EXPECT_DOUBLE_EQ(frame[1], n * -0.25);
  for (std::int32_t k = 1; k < n; ++k) {
    EXPECT_NEAR(std::hypot(frame[2 * k], frame[2 * k + 1]), 0.0, 1e-12) << "bin " << k;
  }
}

TEST(Fft, PositiveRotationLandsInPositiveBin) {
  // Q leads I by a quarter turn: exp(+i 2 pi 3 t / 16).
  const std::int32_t n = 16;
  std::vector<double> frame(2 * n);
  for (std::int32_t t = 0; t < n; ++t) {
    frame[2 * t] = std::cos(2 * M_PI * 3 * t / n);
    frame[2 * t + 1] = std::sin(2 * M_PI * 3 * t / n);
  }
  FftPlan(n, -1).transform(frame.data());
  for (std::int32_t k = 0; k < n; ++k) {
    const double magnitude = std::hypot(frame[2 * k], frame[2 * k + 1]);
    EXPECT_NEAR(magnitude, k == 3 ? 16.0 : 0.0, 1e-9) << "bin " << k;
  }
}

TEST(Fft, InverseUndoesForward) {
  const std::vector<double> input = random_frame(1024, 5);
  std::vector<double> frame = input;
  FftPlan(1024, -1).transform(frame.data());
  FftPlan(1024, 1).transform(frame.data());
  for (std::size_t k = 0; k < input.size(); ++k) ASSERT_NEAR(frame[k], input[k], 1e-9);
}

TEST(Fft, RefusesSizesThatAreNotPowersOfTwo) {
  EXPECT_THROW(FftPlan(0, -1), std::invalid_argument);
  EXPECT_THROW(FftPlan(12, -1), std::invalid_argument);
  EXPECT_THROW(FftPlan(16, 2), std::invalid_argument);
}

}  // namespace
}  // namespace iq
