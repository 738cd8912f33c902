// SPDX-License-Identifier: MIT
// The folding core: folded values, run sums against additions one by one, and a whole fold
// against a sample-by-sample transcription of the rule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "arith/precision.hpp"
#include "dsp/folding.hpp"
#include "flow/fold_run.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

double slow_sum(double sum, double value) {
  return static_cast<double>(static_cast<extended>(sum) + static_cast<extended>(value));
}

TEST(FoldingTest, RunSumsMatchSampleBySampleSums) {
  const auto bytes = test::random_bytes(2 * 70000, 11);
  for (const FoldedValue kind : {FoldedValue::amplitude, FoldedValue::power}) {
    // From zero, from a sum that is not whole power units, and from beyond the exact range.
    for (const double start : {0.0, 0.1, 68719476736.0 - 8, 68719476736.0 * 16 + 0.5, 1e17}) {
      double expected = start;
      for (std::size_t k = 0; k < bytes.size(); k += 2) {
        expected = slow_sum(expected, folded_value(kind, bytes[k], bytes[k + 1]));
      }
      double sum = start;
      add_run(kind, sum, bytes);
      EXPECT_EQ(sum, expected) << static_cast<int>(kind) << " from " << start;
    }
  }
}

TEST(FoldingTest, FoldMatchesThePlainRule) {
  test::ScratchDir dir;
  const std::string path = dir.path("cap.bin");
  const auto bytes = test::random_bytes(400000, 3);
  test::write_bytes(path, bytes);
  struct Case {
    double clock;
    std::int32_t points;
    double period;
  };
  for (const Case c : {Case{2.4, 37, 0.9}, Case{2.0, 100, 1.0}, Case{3.2, 8192, 0.5}, Case{2.4, 5, 300.0}}) {
    for (const FoldedValue kind : {FoldedValue::amplitude, FoldedValue::power}) {
      const FoldGeometry g = fold_geometry(c.clock, c.points, c.period);
      const std::int64_t samples = static_cast<std::int64_t>(bytes.size()) / (2 * c.points) * c.points;
      std::vector<double> sums(c.points, 0.0);
      std::vector<std::int64_t> counts(c.points, 0);
      std::int64_t tim = 0;
      for (std::int64_t s = 0; s < samples; ++s) {
        const auto phase = static_cast<std::int64_t>(
            static_cast<double>(static_cast<extended>(static_cast<double>(s)) * static_cast<extended>(g.res)));
        tim = phase % c.points;
        const auto i = static_cast<float>((bytes[2 * s] - 127.5) / 128.0);
        const auto q = static_cast<float>((bytes[2 * s + 1] - 127.5) / 128.0);
        const auto power = static_cast<double>(static_cast<extended>(i) * i + static_cast<extended>(q) * q);
        sums[tim] = slow_sum(sums[tim], kind == FoldedValue::amplitude ? std::sqrt(power) : power);
        ++counts[tim];
      }
      auto capture = CaptureReader::open(path);
      ASSERT_TRUE(capture);
      Folder folder(g, kind);
      fold_capture(folder, *capture, samples / 3);  // in two calls: indices continue
      fold_capture(folder, *capture, samples - samples / 3);
      EXPECT_EQ(folder.sums(), sums) << c.points << " bins";
      EXPECT_EQ(folder.counts(), counts) << c.points << " bins";
      EXPECT_EQ(folder.last_bin(), tim);
      EXPECT_EQ(folder.folded(), samples);
    }
  }
}

}  // namespace
}  // namespace iq
