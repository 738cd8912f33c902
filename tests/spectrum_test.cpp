// The spectrum accumulation: transforming frames side by side on several workers gives the
// very sums of the plain one-frame-at-a-time loop.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "io/capture_reader.hpp"
#include "dsp/fft.hpp"
#include "dsp/spectrum.hpp"
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

}  // namespace
}  // namespace iq
