// The spectrum accumulation: transforming frames side by side on several workers gives the
// very sums of the plain one-frame-at-a-time loop.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <limits>
#include <vector>

#include "io/capture_reader.hpp"
#include "arith/precision.hpp"
#include "dsp/fft.hpp"
#include "dsp/spectrum.hpp"
#include "arith/precision.hpp"
#include "io/text_format.hpp"
#include "dsp/spectrum_power.hpp"
#include "dsp/vector_target.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

std::vector<double> plain_sums(const std::vector<std::uint8_t>& bytes, std::int32_t n, std::int64_t frames) {
  SpectrumAccumulator spectrum(n);
  const FftPlan plan(n, -1);
  std::vector<double> frame(2 * static_cast<std::size_t>(n));
  for (std::int64_t f = 0; f < frames; ++f) {
    for (std::size_t k = 0; k < frame.size(); ++k) {
      const std::size_t at = static_cast<std::size_t>(f) * frame.size() + k;
      frame[k] = (static_cast<double>(at < bytes.size() ? bytes[at] : 255) - 127.5) / 128.0;
    }
    plan.transform(frame.data());
    spectrum.add_frame(frame);
  }
  return spectrum.sums();
}

TEST(Spectrum, DoubleBinPowerEqualsTheExtendedPowerOrDeclines) {
  std::mt19937_64 rng(13);
  std::uniform_real_distribution<double> component(-300.0, 300.0);
  long proven = 0;
  long naive_differs = 0;
  const long bins = 2000000;
  for (long k = 0; k < bins; ++k) {
    double re = component(rng);
    double im = component(rng);
    if (k % 2 == 0) {  // re^2 + im^2 next to a midpoint between single values
      const float target = static_cast<float>(re * re);
      const double half_gap = (static_cast<double>(std::nextafter(target, 1e30f)) - target) / 2;
      const double wanted = static_cast<double>(target) + half_gap + std::ldexp(half_gap, -30 - static_cast<int>(rng() % 30)) * static_cast<double>(static_cast<int>(rng() % 5) - 2);
      re = std::sqrt(wanted);
      im = std::ldexp(1.0, -static_cast<int>(rng() % 40));
    }
    if (k % 101 == 0) re = (k % 202 == 0) ? 0.0 : std::ldexp(re, -600);  // zero, and outside the proof's range
    const auto want = static_cast<float>(static_cast<extended>(re) * re + static_cast<extended>(im) * im);
    float got = -1.0f;
    if (bin_power_double(re, im, got)) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(want)) << re << " " << im;
      ++proven;
    } else {
      ASSERT_EQ(got, -1.0f);
    }
    naive_differs += static_cast<float>(re * re + im * im) != want;
  }
  EXPECT_GT(naive_differs, 100);
  EXPECT_GT(proven, bins / 3);
}

// Bin powers on every vector target against the extended evaluation: values near the midpoints
// between singles (few significant bits), the ends of the single and double ranges,
// subnormals, zeros, infinities and NaN, and a length that leaves a tail past the vectors.
TEST(Spectrum, FramePowerIsTheExtendedPowerOnEveryTarget) {
  std::mt19937_64 rng(12);
  const double special[] = {0.0, -0.0, 0x1p-1074, -0x1p-1060, 0x1p-520, 0x1p-75, 0x1p-63, 0x1p64, 0x1p511,
                            0x1p600, 1.8446744e19, std::numeric_limits<double>::max(),
                            std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
  const std::size_t bins = 20011;
  std::vector<double> frame(2 * bins);
  for (double& v : frame) {
    switch (rng() % 6) {
      case 0: v = special[rng() % std::size(special)]; break;
      // Singles and their midpoints, slightly moved: squares and sums land next to ties.
      case 1: v = std::ldexp(static_cast<double>((rng() % (1u << 13)) | 1u), -static_cast<int>(rng() % 40)); break;
      case 2: v = std::sqrt(std::ldexp(static_cast<double>((rng() % (1u << 25)) | 1u), -24)); break;
      default: v = (static_cast<int>(rng() % 256) - 127.5) / 128.0 * std::ldexp(1.0, static_cast<int>(rng() % 9) - 4);
    }
    if (rng() % 2) v = -v;
  }
  std::vector<float> expected(bins);
  frame_power_extended(frame.data(), expected.data(), bins);
  test::for_each_vector_target([&](const std::string& target) {
    std::vector<float> power(bins, -1.0f);
    frame_power_fastest(frame.data(), power.data(), bins);
    for (std::size_t k = 0; k < bins; ++k) {
      ASSERT_EQ(std::bit_cast<std::uint32_t>(power[k]), std::bit_cast<std::uint32_t>(expected[k]))
          << target << " bin " << k << ": " << frame[2 * k] << ", " << frame[2 * k + 1];
    }
  });
}

TEST(Spectrum, WorkersGiveTheSumsOfThePlainLoop) {
  test::ScratchDir dir;
  struct Case {
    std::int32_t n;
    std::int64_t frames;
  };
  for (const Case c : {Case{1, 9}, Case{8, 3001}, Case{1024, 37}, Case{4096, 5}}) {
    auto bytes = test::random_bytes(static_cast<std::size_t>(2 * c.n * c.frames - 1), static_cast<std::uint32_t>(c.n));
    test::write_bytes(dir.path("cap.bin"), bytes);
    const std::vector<double> expected = plain_sums(bytes, c.n, c.frames);
    for (unsigned threads : {1u, 2u, 3u}) {
      auto capture = CaptureReader::open(dir.path("cap.bin"));
      ASSERT_TRUE(capture);
      const auto sums = accumulate_spectrum(*capture, c.n, c.frames, threads).sums();
      ASSERT_EQ(0, std::memcmp(sums.data(), expected.data(), expected.size() * sizeof(double)))
          << "N = " << c.n << ", threads " << threads;
    }
  }
}

TEST(Spectrum, TableLinesArePrintfsLines) {
  // The table's lines are formatted without printf; the plain twin is printf's "%ld    %3.3f".
  // Powers from 1e-7 to 1e33 (halfway cases of the third decimal among them), frame counts
  // that round in single precision, and no frames at all (not-a-number lines).
  const std::int32_t n = 4096;
  SpectrumAccumulator spectrum(n);
  std::vector<float> power(n);
  std::uint64_t state = 12345;
  for (int frame = 0; frame < 3; ++frame) {
    for (std::int32_t k = 0; k < n; ++k) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      const int exponent = static_cast<int>(state >> 58) * 2 - 24;
      power[k] = k % 7 == 0 ? static_cast<float>(k) / 16.0f : std::ldexp(static_cast<float>(state >> 40) / 16777216.0f, exponent);
    }
    spectrum.add_power(power, 0, n);
  }
  for (const std::int64_t frames : {std::int64_t{0}, std::int64_t{1}, std::int64_t{3}, std::int64_t{16777217}}) {
    std::string expected;
    for (std::int32_t i = 0; i < n; ++i) {
      const auto bin = static_cast<std::size_t>(i < n / 2 ? i + n / 2 : i - n / 2);
      const auto sum_single = static_cast<float>(spectrum.sums()[bin]);
      const auto value = static_cast<double>(static_cast<extended>(sum_single) / static_cast<float>(frames));
      expected += cformat("%ld    %3.3f\n", static_cast<long>(i - n / 2), value);
    }
    std::string lines;
    spectrum.append_lines(lines, frames, 0, n);
    EXPECT_EQ(lines, expected) << frames << " frames";
  }
}

}  // namespace
}  // namespace iq
