// The phase-to-bin rule of the folding tools: derived values, the bins at exact boundaries,
// and the boundary search against the direct rule over millions of consecutive samples.
#include <gtest/gtest.h>

#include <cstdint>

#include "arith/precision.hpp"
#include "dsp/fold_geometry.hpp"

namespace iq {
namespace {

// The rule written out plainly: s to double, times res in extended, rounded to double,
// truncated, modulo the bin count.
std::int64_t direct_phase(double res, std::int64_t s) {
  return static_cast<std::int64_t>(
      static_cast<double>(static_cast<extended>(static_cast<double>(s)) * static_cast<extended>(res)));
}

TEST(FoldGeometryTest, DerivedValuesKeepTheirPrecision) {
  const FoldGeometry a = fold_geometry(2.4, 100, 1.0);
  EXPECT_EQ(a.clck, 0.4166666567325592f);
  EXPECT_EQ(static_cast<double>(a.clck), 0.4166666567325592);
  EXPECT_EQ(a.dt, 0.01);
  EXPECT_EQ(a.res, 0.04166666567325592);
  // dt is the double just above 0.01; dt * 1000 in extended exceeds 10, so res falls just
  // below 0.05 (a double product would round to 10 and give exactly 0.05).
  const FoldGeometry b = fold_geometry(2.0, 100, 1.0);
  EXPECT_EQ(b.res, 0.049999999999999996);
  EXPECT_LT(b.res, 0.05);
}

TEST(FoldGeometryTest, BinsAtExactBoundaries) {
  struct Case {
    double clock;
    std::int64_t sample;
    std::int32_t bin;
  };
  for (const Case c : {Case{2.4, 0, 0}, Case{2.4, 24, 0}, Case{2.4, 25, 1}, Case{2.4, 48, 1},
                       Case{2.4, 49, 2}, Case{2.4, 2400, 99}, Case{2.4, 2401, 0}, Case{2.0, 20, 0},
                       Case{2.0, 21, 1}, Case{2.0, 200, 10}, Case{2.0, 1999, 99}}) {
    EXPECT_EQ(fold_geometry(c.clock, 100, 1.0).bin(c.sample), c.bin) << c.clock << " " << c.sample;
  }
}

// Walks [start, end) from boundary to boundary and checks every sample's bin, and that each
// boundary is the first sample whose phase grows, against the direct rule.
void expect_boundaries_match(const FoldGeometry& g, std::int64_t start, std::int64_t end) {
  std::int64_t runs = 0;
  for (std::int64_t s = start; s < end; ++runs) {
    const std::int64_t boundary = g.next_boundary(s, end);
    ASSERT_GT(boundary, s);
    const std::int64_t phase = direct_phase(g.res, s);
    for (std::int64_t t = s; t < boundary; ++t) {
      ASSERT_EQ(direct_phase(g.res, t), phase) << "sample " << t << " run from " << s;
    }
    if (boundary < end) {
      ASSERT_GT(direct_phase(g.res, boundary), phase) << "boundary " << boundary;
    }
    ASSERT_EQ(g.bin(s), phase % g.points);
    s = boundary;
  }
  EXPECT_GT(runs, 0);
}

TEST(FoldGeometryTest, BoundaryStepsGiveTheDirectBinOfEverySample) {
  struct Case {
    double clock;
    std::int32_t points;
    double period;
  };
  const std::int64_t kSpan = 2000000;
  const std::int64_t starts[] = {0, (std::int64_t{1} << 32) - kSpan / 2, std::int64_t{1} << 40,
                                 (std::int64_t{1} << 53) - kSpan / 2};
  for (const Case c : {Case{2.4, 100, 1.0}, Case{2.0, 100, 1.0}, Case{2.4, 1024, 714.5},
                       Case{2.048, 7, 0.0123}, Case{3.2, 8192, 0.5}, Case{1.0, 1, 0.001},
                       Case{0.25, 3, 1.0}, Case{2.4, 8192, 1.337e6}}) {
    const FoldGeometry g = fold_geometry(c.clock, c.points, c.period);
    for (const std::int64_t start : starts) {
      SCOPED_TRACE(testing::Message() << c.clock << " MHz, " << c.points << " bins, " << c.period
                                      << " ms, from " << start);
      expect_boundaries_match(g, start, start + kSpan);
    }
  }
}

}  // namespace
}  // namespace iq
