// The FFT: every arrangement of it (the classic entry point, the plan, frames side by side on
// each path) gives the bits of a plain transcription of the classic routine, and the vector
// butterflies redo exactly the lanes they cannot prove.
#include <bit>
#include <cmath>
#include <limits>

#include "arith/precision.hpp"
#include "dsp/fft.hpp"
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
    for (; m >= 2 && j > m; m >>= 1) j -= m;
    j += m;
  }
  for (long mmax = 2; n > mmax; mmax <<= 1) {
    const long istep = mmax << 1;
    const double theta = static_cast<double>(widen(6.28318530717959) / static_cast<ld>(isign * mmax));
    const double wtemp = std::sin(static_cast<double>(widen(0.5) * theta));
    const double wpr = static_cast<double>(widen(-2.0) * wtemp * wtemp);
    const double wpi = std::sin(theta);
    double wr = 1.0, wi = 0.0;
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
  }
  if (isign == 1) {
    for (long i = 1; i <= n; ++i) data[i] = static_cast<double>(data[i] / static_cast<ld>(nn));
  }
}

// A double with few significant bits: products and sums of such values fall on or next to the
// midpoints between doubles, where rounding to extended first changes the result.
double sparse_value(std::mt19937_64& rng, int exponent_spread) {
  double mantissa = 1.0;
  for (int b = static_cast<int>(rng() % 4); b > 0; --b) mantissa += std::ldexp(1.0, -1 - static_cast<int>(rng() % 62));
  const int exponent = static_cast<int>(rng() % static_cast<std::uint64_t>(2 * exponent_spread + 1)) - exponent_spread;
  return ((rng() & 1) ? -1.0 : 1.0) * std::ldexp(mantissa, exponent);
}

// Zeros of both signs, subnormals, the range limits of the vector proof, infinities and NaN;
// capture values; arbitrary doubles; sparse ones.
double pick_value(std::mt19937_64& rng, int kind) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double special[] = {0.0, -0.0, 1.0, -0.5, 0x1p-1074, -0x1p-1040, 0x1p-1022, 0x1p-801, 0x1p-800, 0x1p500,
                            -0x1p501, 0x1p1000, std::numeric_limits<double>::max(), kInf, -kInf, std::nan("")};
  switch (kind % 4) {
    case 0: return (static_cast<int>(rng() % 256) - 127.5) / 128.0;
    case 1: return std::ldexp(static_cast<double>(rng() >> 11), -53 - static_cast<int>(rng() % 8));
    case 2: return rng() % 8 == 0 ? special[rng() % std::size(special)] : sparse_value(rng, 6);
    default: return sparse_value(rng, 2);
  }
}

TEST(Fft, EveryArrangementGivesThePlainRoutinesBits) {
  FftLaneWork work;
  for (int log_n = 0; log_n <= 18; ++log_n) {
    const std::int32_t n = 1 << log_n;
    const auto size = 2 * static_cast<std::size_t>(n);
    for (const int sign : {-1, 1}) {
      if (sign == 1 && log_n > 12) continue;
      const FftPlan plan(n, sign);
      // Trial 0: one frame through the plan; 1: two through the classic entry point; 2: three
      // side by side (the tail of a batch); then full sets of lanes on the vector path (where
      // there is one), the fastest and the x87 one. Values of one kind per trial.
      const auto frames_in = [&](int trial) { return trial < 3 && (trial < 2 || log_n <= 12) ? trial + 1 : int{kFftLanes}; };
      const auto make = [&](std::mt19937_64& rng, int trial) {
        std::vector<double> frames(size * static_cast<std::size_t>(frames_in(trial)));
        for (double& v : frames) v = pick_value(rng, trial + log_n);
        return frames;
      };
      const auto plain = [&](std::vector<double> frames) {
        for (std::size_t f = 0; f < frames.size(); f += size) plain_four(frames.data() + f - 1, n, sign);
        return frames;
      };
      const FftPath paths[] = {FftPath::fastest, FftPath::x87, fft_vector_supported() ? FftPath::vector : FftPath::x87};
      const auto fast = [&, trial = 0](std::vector<double> frames) mutable {
        std::vector<double*> lanes;
        for (std::size_t f = 0; f < frames.size(); f += size) lanes.push_back(frames.data() + f);
        if (trial == 0) {
          plan.transform(lanes[0]);
        } else if (trial == 1) {
          for (double* frame : lanes) four(frame - 1, n, sign);
        } else {
          plan.transform_lanes(lanes, work, paths[trial % 3]);
        }
        ++trial;
        return frames;
      };
      test::expect_twins("N = " + std::to_string(n) + ", sign " + std::to_string(sign), log_n > 14 ? 5 : 8, make, fast, plain);
    }
  }
  EXPECT_THROW(FftPlan(12, -1), std::invalid_argument);
  EXPECT_THROW(FftPlan(16, 2), std::invalid_argument);
  std::vector<double> frame(4);
  EXPECT_THROW(four(frame.data() - 1, (1L << 32) + 1, -1), std::invalid_argument);
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

TEST(Fft, VectorButterfliesRedoExactlyTheLanesTheyCannotProve) {
  if (!fft_vector_supported()) GTEST_SKIP() << "no vector evaluation on this processor";
  std::mt19937_64 rng(8);
  long redone = 0, differing = 0, lanes = 0;
  for (int trial = 0; trial < 400000; ++trial) {
    const FftTwiddle w{(trial % 5 == 0) ? 1.0 : sparse_value(rng, 3), (trial % 7 == 0) ? 0.0 : sparse_value(rng, 3)};
    ButterflyLanes in{};
    for (std::size_t l = 0; l < kFftLanes; ++l) {
      for (double* v : {&in.p_re[l], &in.p_im[l], &in.q_re[l], &in.q_im[l]}) *v = pick_value(rng, 2);
    }
    ButterflyLanes out = in, unchecked{};
    const unsigned mask = butterfly_lanes_vector(out, w, &unchecked);
    for (std::size_t l = 0; l < kFftLanes; ++l) {
      double p_re = in.p_re[l], p_im = in.p_im[l], q_re = in.q_re[l], q_im = in.q_im[l];
      butterfly_extended(p_re, p_im, q_re, q_im, w.re, w.im);
      ASSERT_TRUE(same_bits(out.p_re[l], p_re) && same_bits(out.p_im[l], p_im) && same_bits(out.q_re[l], q_re) &&
                  same_bits(out.q_im[l], q_im)) << "trial " << trial << " lane " << l;
      const bool unchecked_differs = !same_bits(unchecked.p_re[l], p_re) || !same_bits(unchecked.p_im[l], p_im) ||
                                     !same_bits(unchecked.q_re[l], q_re) || !same_bits(unchecked.q_im[l], q_im);
      const bool was_redone = (mask >> l & 1u) != 0;
      ASSERT_TRUE(was_redone || !unchecked_differs) << "trial " << trial << " lane " << l;
      redone += was_redone;
      differing += unchecked_differs && std::isfinite(p_re) && std::isfinite(q_re);
      ++lanes;
    }
  }
  // The lanes where the double evaluation alone gives other bits were reached, and redone.
  EXPECT_GT(differing, 1000);
  EXPECT_GT(redone, differing);
  EXPECT_LT(redone, lanes / 2);
}

}  // namespace
}  // namespace iq
