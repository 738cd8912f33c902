// SPDX-License-Identifier: MIT
// The plain transform and its a-priori bound: every value within the bound of the extended
// evaluation on adversarial frames, the bound no smaller than its proof's, the power test that
// redoes a bin near a rounding boundary, and spectra through the plain transform equal to the
// exact frame-by-frame loop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "arith/precision.hpp"
#include "dsp/fft.hpp"
#include "dsp/spectrum.hpp"
#include "dsp/spectrum_power.hpp"
#include "dsp/vector_target.hpp"
#include "flow/spectrum_run.hpp"
#include "io/capture_reader.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

std::uint8_t byte_of(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Frames that push the transform's values to their extremes: full-scale tones on and between
// bins (with and without a little noise), the two constant frames, alternating extremes, an
// impulse, random bytes.
std::vector<std::uint8_t> adversarial_frame(int pattern, std::size_t n, std::mt19937_64& rng) {
  std::vector<std::uint8_t> bytes(2 * n);
  const double cycles = pattern == 0 ? 3.0 : 0.5 + static_cast<double>(n / 5);
  for (std::size_t i = 0; i < n; ++i) {
    const double phase = 2 * std::numbers::pi * cycles * static_cast<double>(i) / static_cast<double>(n);
    const double noise = pattern == 2 ? static_cast<double>(rng() % 3) - 1.0 : 0.0;
    switch (pattern) {
      case 0:
      case 1:
      case 2:
        bytes[2 * i] = byte_of(127.5 + 127.5 * std::cos(phase) + noise);
        bytes[2 * i + 1] = byte_of(127.5 + 127.5 * std::sin(phase) - noise);
        break;
      case 3:
      case 4:
        bytes[2 * i] = bytes[2 * i + 1] = pattern == 3 ? 0 : 255;
        break;
      case 5:
        bytes[2 * i] = bytes[2 * i + 1] = i % 2 == 0 ? 0 : 255;
        break;
      case 6:
        bytes[2 * i] = i == n / 3 ? 255 : 128;
        bytes[2 * i + 1] = 127;
        break;
      default:
        bytes[2 * i] = static_cast<std::uint8_t>(rng());
        bytes[2 * i + 1] = static_cast<std::uint8_t>(rng());
    }
  }
  return bytes;
}
constexpr int kPatterns = 8;

// The frame's squared 2-norm from its bytes, times 2^16: an exact integer.
std::uint64_t scaled_squared_norm(const std::uint8_t* bytes, std::size_t n) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < 2 * n; ++i)
    sum += static_cast<std::uint64_t>((2 * bytes[i] - 255) * (2 * bytes[i] - 255));
  return sum;
}

TEST(FftBound, PlainTransformLiesWithinItsBoundOfTheExtendedOne) {
  const bool emulated = std::getenv("IQTOOLS_EMULATOR") != nullptr;
  FftLaneWork work;
  test::for_each_vector_target([&](const std::string& target) {
    std::mt19937_64 rng(11);
    double worst = 0.0;  // the largest distance seen, over its bound
    for (int log_n = 0; log_n <= (emulated ? 10 : 13); ++log_n) {
      const auto n = std::size_t{1} << log_n;
      const FftPlan plan(static_cast<std::int32_t>(n), -1);
      for (int start = 0; start < kPatterns; start += 3) {
        // Eight frames of consecutive patterns in one buffer.
        const std::size_t count = start == 6 ? 5 : kFftLanes;
        std::vector<std::uint8_t> bytes;
        for (std::size_t l = 0; l < count; ++l) {
          const auto frame = adversarial_frame(static_cast<int>((start + l) % kPatterns), n, rng);
          bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
        double norms[kFftLanes];
        const double* data = plan.transform_bytes_plain(bytes.data(), 2 * n, count, work, norms);
        ASSERT_EQ(data != nullptr, plan.lanes_serve_bytes()) << target;
        if (data == nullptr) continue;
        for (std::size_t l = 0; l < count; ++l) {
          const std::uint8_t* frame = bytes.data() + l * 2 * n;
          // The norm bound squared against the exact square (the bound is a few 2^-30 above).
          const extended scaled = static_cast<extended>(norms[l]) * 256;
          const auto squares = static_cast<extended>(scaled_squared_norm(frame, n));
          ASSERT_GE(scaled * scaled, squares) << "N = " << n << ", frame " << l;
          ASSERT_LE(scaled * scaled, squares * static_cast<extended>(1 + 1e-8)) << "N = " << n << ", frame " << l;
          std::vector<double> exact(2 * n);
          normalise_frame(std::span(frame, 2 * n), exact);
          plan.transform(exact.data());
          const double bound = plan.plain_bound(norms[l]);
          for (std::size_t k = 0; k < n; ++k) {
            const extended re = static_cast<extended>(data[16 * k + l]) - exact[2 * k];
            const extended im = static_cast<extended>(data[16 * k + 8 + l]) - exact[2 * k + 1];
            const extended squared = re * re + im * im;
            ASSERT_LE(squared, static_cast<extended>(bound) * bound)
                << "N = " << n << ", frame " << l << ", point " << k << ", " << target;
            worst = std::max(worst, std::sqrt(static_cast<double>(squared)) / bound);
          }
          // One point through only the butterflies it depends on is the transform's.
          std::vector<double> point_work;
          const std::size_t k = rng() % n;
          const auto [re, im] = plan.transform_bytes_point(frame, k, point_work);
          ASSERT_EQ(re, exact[2 * k]) << "N = " << n << ", point " << k;
          ASSERT_EQ(im, exact[2 * k + 1]) << "N = " << n << ", point " << k;
        }
      }
    }
    RecordProperty("worst_distance_over_bound_" + target, std::to_string(worst));
  });
}

// The bound's constant against the proof's: each stage that can err adds
// (4 + sqrt(2) + 2 sqrt(2) (1 + 2^-9)) / sqrt(2) u sqrt(n) of the norm; on bytes the first two
// stages are exact. A smaller bound than this is not proven.
TEST(FftBound, BoundIsNoSmallerThanItsProof) {
  const double per_stage =
      (4 + std::numbers::sqrt2 + 2 * std::numbers::sqrt2 * (1 + 0x1p-9)) / std::numbers::sqrt2;
  for (int log_n = 0; log_n <= 20; ++log_n) {
    const auto n = std::int32_t{1} << log_n;
    const FftPlan plan(n, -1);
    const double proof = std::max(0, log_n - 2) * per_stage * 0x1p-53 * std::sqrt(static_cast<double>(n));
    EXPECT_GE(plan.plain_bound(1.0) - 0x1p-1000, proof) << "N = " << n;
    EXPECT_LE(plan.plain_bound(1.0), proof * 1.01 + 0x1p-999) << "N = " << n;
  }
}

// A value whose square lies just inside a rounding boundary of single precision, nearer it than
// the distance allows, must be redone: a value within the distance crosses the boundary. Well
// inside, it is proven, with the extended power's bits.
TEST(FftBound, PowerNearABoundaryWithinTheDistanceIsRedone) {
  test::for_each_vector_target([&](const std::string& target) {
    std::mt19937_64 rng(5);
    for (int trial = 0; trial < 200; ++trial) {
      // B: the midpoint between a float and the next one up.
      const float below =
          std::ldexp(1.0f + static_cast<float>(rng() % 1000000) * 0x1p-23f, static_cast<int>(rng() % 60) - 30);
      const double boundary = (static_cast<double>(below) + std::nextafter(below, 2 * below)) / 2;
      const double root = std::sqrt(boundary);
      const double distance = root * 0x1p-32;
      double data[16 * 2] = {};
      data[0] = root - 0.75 * distance;  // within the distance of a value past B
      data[16] = root - 4 * distance;    // more than the distance inside
      double distances[kFftLanes] = {distance};
      float power[8 * 2];
      std::uint32_t unproven[4];
      const std::size_t found = lane_power_near(data, 2, 1, distances, power, unproven, 4);
      ASSERT_EQ(found, 1u) << target << ", trial " << trial;
      EXPECT_EQ(unproven[0], 0u) << target;
      float expected = 0;
      frame_power_extended(data + 16, &expected, 1);
      EXPECT_EQ(power[8], expected) << target;
    }
  });
}

// Spectra of adversarial captures through the batches (the plain transform where it serves, its
// redone bins and frames) equal the exact frame-by-frame sums, on 1 to 3 workers: thousands of
// frames to share among them, and a last frame one byte short (it reads as 255).
TEST(FftBound, SpectraOfAdversarialCapturesEqualTheExactLoop) {
  test::ScratchDir dir;
  std::mt19937_64 rng(3);
  // Under emulation the largest size would take minutes of software extended arithmetic.
  const bool emulated = std::getenv("IQTOOLS_EMULATOR") != nullptr;
  const std::pair<std::size_t, std::size_t> shapes[] = {{1, 9},   {4, 25},    {8, 3001},
                                                        {64, 25}, {1024, 25}, {8192, 25}};
  for (const auto& [n, frames] : shapes) {
    if (emulated && n > 1024) continue;
    std::vector<std::uint8_t> bytes;
    for (std::size_t f = 0; f < frames; ++f) {
      const auto frame = adversarial_frame(static_cast<int>(f % kPatterns), n, rng);
      bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    bytes.back() = 255;
    test::write_bytes(dir.path("cap.bin"), std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1));
    SpectrumAccumulator expected(static_cast<std::int32_t>(n));
    std::vector<double> frame(2 * n);
    for (std::size_t f = 0; f < frames; ++f) {
      normalise_frame(std::span(bytes.data() + f * 2 * n, 2 * n), frame);
      FftPlan(static_cast<std::int32_t>(n), -1).transform(frame.data());
      expected.add_frame(frame);
    }
    for (unsigned threads = 1; threads <= 3; ++threads) {
      auto capture = CaptureReader::open(dir.path("cap.bin"));
      ASSERT_TRUE(capture);
      EXPECT_EQ(
          accumulate_spectrum(*capture, static_cast<std::int32_t>(n), static_cast<std::int64_t>(frames), threads)
              .sums(),
          expected.sums())
          << "N = " << n << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace iq
