// The spectrum accumulation: transforming frames side by side on several workers gives the
// very sums of the plain one-frame-at-a-time loop.
#include <gtest/gtest.h>

#include <cstring>

#include "io/capture_reader.hpp"
#include "dsp/fft.hpp"
#include "dsp/spectrum.hpp"
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
