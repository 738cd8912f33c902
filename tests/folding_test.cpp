// The folding core against a sample-by-sample transcription of the rule: the fast extended
// sums, the run sums, the boundary search of the phase-to-bin rule and a whole fold.
#include <cmath>

#include "arith/precision.hpp"
#include "dsp/fold_geometry.hpp"
#include "dsp/folding.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

double slow_sum(double sum, double value) {
  return static_cast<double>(static_cast<extended>(sum) + static_cast<extended>(value));
}

// The phase rule written out plainly: s to double, times res in extended, rounded to double,
// truncated.
std::int64_t direct_phase(double res, std::int64_t s) {
  return static_cast<std::int64_t>(static_cast<double>(static_cast<extended>(static_cast<double>(s)) * res));
}

TEST(FoldingTest, FastExtendedSumsEqualTheExtendedAddition) {
  // Amplitudes onto growing sums, and values on or next to the midpoints between doubles
  // (within a few extended ulps), where rounding to extended first changes the result.
  const auto make = [](std::mt19937_64& rng, int trial) {
    std::vector<std::pair<double, double>> pairs(1000);
    double sum = std::ldexp(1.0, trial % 40);
    for (auto& [base, value] : pairs) {
      if (trial % 2 == 0) {
        value = std::uniform_real_distribution<double>(0.0, 1.41)(rng);
        base = sum;
        sum = slow_sum(sum, value);
        continue;
      }
      base = std::ldexp(1.0 + static_cast<double>(rng() >> 12) * 0x1p-52, static_cast<int>(rng() % 60));
      const double half_ulp = std::ldexp(std::nextafter(base, 2 * base) - base, -1);
      const double offset = std::ldexp(half_ulp, -12 - static_cast<int>(rng() % 12)) * static_cast<double>(static_cast<int>(rng() % 9) - 4);
      value = (rng() % 3 == 0 ? std::ldexp(half_ulp, -1) : half_ulp) + offset + ((rng() & 1) ? std::ldexp(half_ulp, -60) : 0.0);
      if (rng() & 1) value = -value;
    }
    return pairs;
  };
  const auto with = [](auto add) {
    return [add](const std::vector<std::pair<double, double>>& pairs) {
      std::vector<double> sums;
      for (const auto& [sum, value] : pairs) sums.push_back(add(sum, value));
      return sums;
    };
  };
  test::expect_twins("extended sums", 3000, make, with(add_extended_fast), with(slow_sum));
}

TEST(FoldingTest, RunSumsEqualSampleBySampleSums) {
  const auto bytes = test::random_bytes(2 * 70000, 11);
  for (const FoldedValue kind : {FoldedValue::amplitude, FoldedValue::power}) {
    // From zero, from a sum that is not whole power units, and from beyond the exact range.
    for (const double start : {0.0, 0.1, 68719476736.0 - 8, 68719476736.0 * 16 + 0.5, 1e17}) {
      double expected = start, sum = start;
      for (std::size_t k = 0; k < bytes.size(); k += 2) expected = slow_sum(expected, folded_value(kind, bytes[k], bytes[k + 1]));
      add_run(kind, sum, bytes);
      EXPECT_EQ(sum, expected) << static_cast<int>(kind) << " from " << start;
    }
  }
}

struct Geometry {
  double clock;
  std::int32_t points;
  double period;
};

TEST(FoldingTest, BoundaryStepsGiveTheDirectBinOfEverySample) {
  // Spans of samples from 0, around 2^32, 2^40 and 2^53: every sample's bin by the boundary
  // steps against the direct rule.
  const std::int64_t starts[] = {0, (std::int64_t{1} << 32) - 150000, std::int64_t{1} << 40, (std::int64_t{1} << 53) - 150000};
  for (const Geometry c : {Geometry{2.4, 100, 1.0}, Geometry{2.0, 100, 1.0}, Geometry{2.4, 1024, 714.5}, Geometry{2.048, 7, 0.0123},
                           Geometry{3.2, 8192, 0.5}, Geometry{1.0, 1, 0.001}, Geometry{0.25, 3, 1.0}, Geometry{2.4, 8192, 1.337e6}}) {
    const FoldGeometry g = fold_geometry(c.clock, c.points, c.period);
    const auto boundary_steps = [&g](std::int64_t start) {
      std::vector<std::int64_t> bins;
      for (std::int64_t s = start, end = start + 300000; s < end;) {
        const std::int64_t run_end = g.next_boundary(s, end);
        bins.insert(bins.end(), static_cast<std::size_t>(run_end - s), g.bin(s));
        s = run_end;
      }
      return bins;
    };
    const auto direct_bins = [&g](std::int64_t start) {
      std::vector<std::int64_t> bins;
      for (std::int64_t s = start; s < start + 300000; ++s) bins.push_back(direct_phase(g.res, s) % g.points);
      return bins;
    };
    test::expect_twins(std::to_string(c.clock) + " MHz, " + std::to_string(c.points) + " bins", 4,
                       [&](std::mt19937_64&, int trial) { return starts[trial]; }, boundary_steps, direct_bins);
  }
}

TEST(FoldingTest, FoldEqualsThePlainRule) {
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(400000, 3);
  test::write_bytes(dir.path("cap.bin"), bytes);
  for (const Geometry c : {Geometry{2.4, 37, 0.9}, Geometry{2.0, 100, 1.0}, Geometry{3.2, 8192, 0.5}, Geometry{2.4, 5, 300.0}}) {
    for (const FoldedValue kind : {FoldedValue::amplitude, FoldedValue::power}) {
      const FoldGeometry g = fold_geometry(c.clock, c.points, c.period);
      const std::int64_t samples = static_cast<std::int64_t>(bytes.size()) / (2 * c.points) * c.points;
      std::vector<double> sums(c.points, 0.0);
      std::vector<std::int64_t> counts(c.points, 0);
      std::int64_t tim = 0;
      for (std::int64_t s = 0; s < samples; ++s) {
        tim = direct_phase(g.res, s) % c.points;
        const auto i = static_cast<float>((bytes[2 * s] - 127.5) / 128.0);
        const auto q = static_cast<float>((bytes[2 * s + 1] - 127.5) / 128.0);
        const auto power = static_cast<double>(static_cast<extended>(i) * i + static_cast<extended>(q) * q);
        sums[tim] = slow_sum(sums[tim], kind == FoldedValue::amplitude ? std::sqrt(power) : power);
        ++counts[tim];
      }
      auto capture = CaptureReader::open(dir.path("cap.bin"));
      Folder folder(g, kind);
      folder.fold(*capture, samples / 3);  // in two calls: indices continue
      folder.fold(*capture, samples - samples / 3);
      EXPECT_EQ(test::bytes_of(folder.sums()), test::bytes_of(sums)) << c.points << " bins";
      EXPECT_EQ(folder.counts(), counts) << c.points << " bins";
      EXPECT_EQ(folder.last_bin(), tim);
    }
  }
}

}  // namespace
}  // namespace iq
