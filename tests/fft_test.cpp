// The FFT: textbook properties, and bit-identity with a plain transcription of the classic
// routine (kept here as the reference for every faster arrangement).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "arith/precision.hpp"
#include "dsp/fft.hpp"
#include "dsp/fft_scalar.hpp"
#include "dsp/vector_target.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// The classic routine as written: 1-based positions, twiddles by recurrence inside the stage,
// twiddle-outer loop order, every expression in extended precision and rounded where stored.
void plain_four(double* data, long nn, int isign) {
  using ld = extended;
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

// Eight frames (or fewer) transformed side by side give each frame the plain routine's bits.
void expect_lanes_match_plain(std::vector<std::vector<double>> frames, int sign, const std::string& target,
                              FftLaneWork& work) {
  const auto n = static_cast<std::int32_t>(frames[0].size() / 2);
  std::vector<std::vector<double>> expected = frames;
  std::vector<double*> pointers;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    plain_four(expected[f].data() - 1, n, sign);
    pointers.push_back(frames[f].data());
  }
  FftPlan(n, sign).transform_lanes(pointers, work);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    ASSERT_EQ(0, std::memcmp(expected[f].data(), frames[f].data(), frames[f].size() * sizeof(double)))
        << "N = " << n << ", sign " << sign << ", frame " << f << ", target " << target;
  }
}

// Every vector target and the extended evaluation ("scalar"); the largest sizes on the
// processor's own choice only.
TEST(Fft, LanesAreBitIdenticalToPlainRoutineForEverySize) {
  FftLaneWork work;
  const std::string own = vector_target();
  test::for_each_vector_target([&](const std::string& target) {
    const int largest = (target == own || target == "scalar") ? 18 : 13;
    for (int log_n = 0; log_n <= largest; ++log_n) {
      const std::int32_t n = 1 << log_n;
      for (int sign : {-1, 1}) {
        if (sign == 1 && log_n > 12) continue;
        // A full set of lanes and a partial one (the tail of a batch).
        for (const std::size_t count : {kFftLanes, std::size_t{3}}) {
          if (count < kFftLanes && log_n > 12) continue;
          std::vector<std::vector<double>> frames;
          for (std::size_t f = 0; f < count; ++f) {
            frames.push_back(random_frame(n, static_cast<std::uint32_t>(f + count + 16 * static_cast<std::size_t>(log_n))));
          }
          expect_lanes_match_plain(frames, sign, target, work);
        }
      }
    }
  });
}

// A double with few significant bits: products and sums of such values fall on or next to
// the midpoints between doubles, where rounding to extended first changes the result.
double sparse_value(std::mt19937_64& rng, int exponent_spread) {
  double mantissa = 1.0;
  const int bits = static_cast<int>(rng() % 4);
  for (int b = 0; b < bits; ++b) mantissa += std::ldexp(1.0, -1 - static_cast<int>(rng() % 62));
  const int exponent = static_cast<int>(rng() % static_cast<std::uint64_t>(2 * exponent_spread + 1)) - exponent_spread;
  return ((rng() & 1) ? -1.0 : 1.0) * std::ldexp(mantissa, exponent);
}

// Values every butterfly must pass through unchanged in meaning: zeros of both signs,
// subnormals, powers of two, the range limits of the vector proof, infinities and NaN.
const double kSpecialValues[] = {0.0, -0.0, 1.0, -0.5, 0x1p-1074, -0x1p-1040, 0x1p-1022, 0x1p-801, 0x1p-800,
                                 0x1p500, -0x1p501, 0x1p1000, std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()};

double pick_value(std::mt19937_64& rng) {
  switch (rng() % 8) {
    case 0: return kSpecialValues[rng() % std::size(kSpecialValues)];
    case 1: return std::ldexp(static_cast<double>(rng() >> 11), -53 - static_cast<int>(rng() % 8));
    default: return sparse_value(rng, 6);
  }
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

void expect_butterflies_redo_what_they_cannot_prove(const std::string& target) {
  std::mt19937_64 rng(8);
  long redone = 0;
  long differing = 0;
  long lanes = 0;
  // Under emulation (every extended operation a call) a tenth of the trials: still thousands of lanes that differ.
  const int trials = std::getenv("IQTOOLS_EMULATOR") != nullptr ? 40000 : 400000;
  for (int trial = 0; trial < trials; ++trial) {
    const FftTwiddle w{(trial % 5 == 0) ? 1.0 : sparse_value(rng, 3), (trial % 7 == 0) ? 0.0 : sparse_value(rng, 3)};
    ButterflyLanes in{};
    for (std::size_t l = 0; l < kFftLanes; ++l) {
      in.p_re[l] = pick_value(rng);
      in.p_im[l] = pick_value(rng);
      in.q_re[l] = pick_value(rng);
      in.q_im[l] = pick_value(rng);
    }
    ButterflyLanes out = in;
    ButterflyLanes unchecked{};
    const unsigned mask = butterfly_lanes_vector(out, w, &unchecked);
    for (std::size_t l = 0; l < kFftLanes; ++l) {
      double p_re = in.p_re[l], p_im = in.p_im[l], q_re = in.q_re[l], q_im = in.q_im[l];
      butterfly_extended(p_re, p_im, q_re, q_im, w.re, w.im);
      ASSERT_TRUE(same_bits(out.p_re[l], p_re) && same_bits(out.p_im[l], p_im) && same_bits(out.q_re[l], q_re) &&
                  same_bits(out.q_im[l], q_im))
          << target << " trial " << trial << " lane " << l;
      const bool unchecked_differs = !same_bits(unchecked.p_re[l], p_re) || !same_bits(unchecked.p_im[l], p_im) ||
                                     !same_bits(unchecked.q_re[l], q_re) || !same_bits(unchecked.q_im[l], q_im);
      const bool was_redone = (mask >> l & 1u) != 0;
      ASSERT_TRUE(was_redone || !unchecked_differs) << target << " trial " << trial << " lane " << l;
      redone += was_redone;
      differing += unchecked_differs && std::isfinite(p_re) && std::isfinite(q_re);
      ++lanes;
    }
  }
  // The lanes where the double evaluation alone gives other bits were reached, and redone.
  ::testing::Test::RecordProperty(target + " lanes", static_cast<int>(lanes));
  ::testing::Test::RecordProperty(target + " redone", static_cast<int>(redone));
  ::testing::Test::RecordProperty(target + " differing", static_cast<int>(differing));
  EXPECT_GT(differing, 1000) << target;
  EXPECT_GT(redone, differing) << target;
  EXPECT_LT(redone, lanes / 2) << target;
}

// On every vector target: the lanes the double evaluation alone gets wrong are always redone.
TEST(Fft, VectorButterfliesRedoExactlyTheLanesTheyCannotProve) {
  int targets = 0;
  test::for_each_vector_target([&](const std::string& target) {
    if (fft_vector_supported()) {
      ++targets;
      expect_butterflies_redo_what_they_cannot_prove(target);
    }
  });
  if (targets == 0) GTEST_SKIP() << "no vector evaluation on this processor";
}

TEST(Fft, TheScalarChoiceTurnsTheVectorEvaluationOff) {
  const std::string own = vector_target();
  ASSERT_TRUE(pin_vector_target("scalar"));
  EXPECT_FALSE(fft_vector_supported());
  ASSERT_TRUE(pin_vector_target(own));
}

// The butterfly in double precision alone, without any proof.
void naive_butterfly(double& p_re, double& p_im, double& q_re, double& q_im, double w_re, double w_im) {
  const double t_re = w_re * q_re - w_im * q_im;
  const double t_im = w_re * q_im + w_im * q_re;
  q_re = p_re - t_re;
  q_im = p_im - t_im;
  p_re = p_re + t_re;
  p_im = p_im + t_im;
}

TEST(Fft, DoubleButterflyStoresTheExtendedBitsOrDeclines) {
  std::mt19937_64 rng(10);
  long declined = 0;
  long naive_differs = 0;
  const long trials = 3000000;
  for (long trial = 0; trial < trials; ++trial) {
    const FftTwiddle w{(trial % 5 == 0) ? 1.0 : sparse_value(rng, 3), (trial % 7 == 0) ? 0.0 : sparse_value(rng, 3)};
    double in[4];
    for (double& v : in) v = pick_value(rng);
    if (trial % 3 == 0) {  // p + t near a midpoint between doubles: t = q exactly when w = (1, 0)
      const double half_gap = std::ldexp(std::nextafter(std::fabs(in[0]), 1e300) - std::fabs(in[0]), -1);
      in[2] = half_gap + std::ldexp(half_gap, -11 - static_cast<int>(rng() % 3)) * static_cast<double>(static_cast<int>(rng() % 5) - 2);
    }
    const FftTwiddle unit_or_w = (trial % 3 == 0) ? FftTwiddle{1.0, 0.0} : w;
    double want[4] = {in[0], in[1], in[2], in[3]};
    butterfly_extended(want[0], want[1], want[2], want[3], unit_or_w.re, unit_or_w.im);
    double got[4] = {in[0], in[1], in[2], in[3]};
    const bool proven = butterfly_double(got[0], got[1], got[2], got[3], unit_or_w.re, unit_or_w.im);
    double naive[4] = {in[0], in[1], in[2], in[3]};
    naive_butterfly(naive[0], naive[1], naive[2], naive[3], unit_or_w.re, unit_or_w.im);
    bool differs = false;
    for (int k = 0; k < 4; ++k) {
      differs = differs || !same_bits(naive[k], want[k]);
      if (proven) {
        ASSERT_TRUE(same_bits(got[k], want[k])) << "trial " << trial << " value " << k;
      } else {
        ASSERT_TRUE(same_bits(got[k], in[k])) << "declined but changed, trial " << trial;
      }
    }
    declined += !proven;
    naive_differs += differs && std::isfinite(want[0]) && std::isfinite(want[2]);
  }
  // The cases where double arithmetic alone gives other bits were reached, and declined.
  EXPECT_GT(naive_differs, 10000);
  EXPECT_GT(declined, naive_differs);
  EXPECT_LT(declined, trials / 2);
}

TEST(Fft, DoubleButterflyProvesAlmostEveryButterflyOfACapture) {
  // Normalised receiver bytes through a 1024-point transform, as iqspec makes them.
  std::mt19937_64 rng(11);
  const std::int32_t n = 1024;
  std::vector<double> frame(2 * n);
  for (double& v : frame) v = (static_cast<double>(rng() % 256) - 127.5) / 128.0;
  const FftPlan plan(n, -1);
  std::vector<double> reference = frame;
  plan.transform(reference.data());
  // Replay the stages butterfly by butterfly through the double evaluation.
  long declined = 0;
  long butterflies = 0;
  std::vector<double> data = frame;
  for (std::int32_t i = 0, j = 0; i < n; ++i) {  // bit reversal
    if (j > i) {
      std::swap(data[2 * i], data[2 * j]);
      std::swap(data[2 * i + 1], data[2 * j + 1]);
    }
    std::int32_t bit = n / 2;
    while (bit > 0 && (j & bit) != 0) {
      j ^= bit;
      bit /= 2;
    }
    j |= bit;
  }
  for (std::int32_t half = 1; half < n; half *= 2) {
    const double theta = static_cast<double>(widen(6.28318530717959) / static_cast<extended>(-2 * half));
    const double sigma = std::sin(static_cast<double>(widen(0.5) * theta));
    const double alpha = static_cast<double>(widen(-2.0) * sigma * sigma);
    const double beta = std::sin(theta);
    double w_re = 1.0;
    double w_im = 0.0;
    for (std::int32_t k = 0; k < half; ++k) {
      for (std::int32_t group = 0; group < n; group += 2 * half) {
        double* p = data.data() + 2 * (group + k);
        double* q = p + 2 * half;
        if (!butterfly_double(p[0], p[1], q[0], q[1], w_re, w_im)) {
          ++declined;
          butterfly_extended(p[0], p[1], q[0], q[1], w_re, w_im);
        }
        ++butterflies;
      }
      const double r = w_re;
      w_re = static_cast<double>(static_cast<extended>(r) * alpha - static_cast<extended>(w_im) * beta + w_re);
      w_im = static_cast<double>(static_cast<extended>(w_im) * alpha + static_cast<extended>(r) * beta + w_im);
    }
  }
  for (std::size_t k = 0; k < data.size(); ++k) ASSERT_TRUE(same_bits(data[k], reference[k])) << k;
  EXPECT_LT(declined, butterflies / 10);
}

TEST(Fft, LanesMatchPlainRoutineOnAdversarialFrames) {
  FftLaneWork work;
  test::for_each_vector_target([&](const std::string& target) {
    std::mt19937_64 rng(9);
    for (const std::int32_t n : {2, 8, 64, 4096}) {
      std::vector<std::vector<double>> frames(kFftLanes, std::vector<double>(2 * static_cast<std::size_t>(n)));
      for (std::size_t f = 0; f < kFftLanes; ++f) {
        for (double& v : frames[f]) v = (f < 4) ? sparse_value(rng, 2) : pick_value(rng);
      }
      expect_lanes_match_plain(frames, -1, target, work);
    }
  });
}

TEST(Fft, VectorTwiddleRange) {
  const struct {
    double value;
    bool fits;
  } cases[] = {{0.0, true}, {-0.0, true}, {1.0, true}, {-2.0, true}, {0x1p-100, true}, {6.123e-17, true},
               {0x1p-101, false}, {2.0000000000000004, false}, {0x1p-1074, false},
               {std::numeric_limits<double>::infinity(), false}, {std::numeric_limits<double>::quiet_NaN(), false}};
  for (const auto& c : cases) {
    const FftTwiddle as_re[] = {{1.0, 0.0}, {1.0, 0.0}, {c.value, 1.0}};
    const FftTwiddle as_im[] = {{1.0, 0.0}, {1.0, 0.0}, {0.5, c.value}};
    EXPECT_EQ(fft_twiddles_fit_vector(as_re, 3), c.fits) << c.value;
    EXPECT_EQ(fft_twiddles_fit_vector(as_im, 3), c.fits) << c.value;
  }
  // Each stage's first factor (positions 0, 1, 3, 7, ...) must be exactly (1, +0).
  const FftTwiddle stages[] = {{1.0, 0.0}, {1.0, 0.0}, {0.5, -0.5}, {1.0, 0.0}};
  EXPECT_TRUE(fft_twiddles_fit_vector(stages, 4));
  for (const FftTwiddle first : {FftTwiddle{1.0, -0.0}, FftTwiddle{0.5, 0.0}}) {
    FftTwiddle changed[] = {stages[0], stages[1], stages[2], first};
    EXPECT_FALSE(fft_twiddles_fit_vector(changed, 4));
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
  std::vector<double> frame(4);
  // 2^62 + 1 where long has 64 bits (its low 32 bits read as 1, a power of two), 2^30 + 1 on 32-bit ARM.
  EXPECT_THROW(four(frame.data() - 1, std::numeric_limits<long>::max() / 2 + 2, -1), std::invalid_argument);
}

}  // namespace
}  // namespace iq
