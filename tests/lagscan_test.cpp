// SPDX-License-Identifier: MIT
// lagscan's correlator against the plain transcription, and its sums on every vector target
// against the extended sums on the hard cases. Console texts, peaks, ties, refusals and whole
// tables are in the golden corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <random>

#include "dsp/lag_step.hpp"
#include "dsp/lag_sums.hpp"
#include "dsp/vector_target.hpp"
#include "lag_correlator.hpp"
#include "lagscan_reference.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(LagCorrelatorTest, MatchesThePlainTranscriptionBitForBit) {
  const std::int64_t blocks = 3;
  const auto noise1 = test::random_bytes(blocks * kBlockBytes, 11);
  const auto noise2 = test::random_bytes(blocks * kBlockBytes, 12);
  auto late = noise1;  // capture 1 seen 77 samples later: coefficients up to 1
  std::rotate(late.begin(), late.begin() + 154, late.end());
  struct Case {
    int window;
    unsigned workers;
    bool correlated;
    int blocks;
  };
  // Windows of 1, odd sizes and the largest; lag counts that leave tails of every group size.
  for (const Case c : {Case{1, 1, false, 3}, Case{37, 2, false, 3}, Case{100, 3, true, 3}, Case{333, 1, true, 2},
                       Case{1192, 2, false, 2}}) {
    const auto& capture2 = c.correlated ? late : noise2;
    test::ReferenceLagscan reference(c.window);
    LagCorrelator fast(c.window, c.workers);
    for (int b = 0; b < c.blocks; ++b) {
      const std::uint8_t* block1 = noise1.data() + b * kBlockBytes;
      const std::uint8_t* block2 = capture2.data() + b * kBlockBytes;
      reference.block(block1, block2);
      fast.add_block({block1, static_cast<std::size_t>(kBlockBytes)},
                     {block2, static_cast<std::size_t>(kBlockBytes)});
      SCOPED_TRACE("window " + std::to_string(c.window) + " block " + std::to_string(b));
      ASSERT_EQ(fast.one_on_two().size(), static_cast<std::size_t>(reference.lags_));
      for (std::size_t i = 0; i < fast.one_on_two().size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(fast.one_on_two()[i]),
                  std::bit_cast<std::uint32_t>(reference.dato1_[i]))
            << i;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(fast.two_on_one()[i]),
                  std::bit_cast<std::uint32_t>(reference.dato2_[i]))
            << i;
      }
      // The weights and factors hold every bit of extended precision: a term rounded to double
      // would rarely change a single-precision sum, so they are checked on their own.
      for (const int capture : {1, 2}) {
        for (int j = 0; j < c.window; ++j) ASSERT_EQ(fast.weight(capture, j), reference.weight(capture, j)) << j;
        for (int x = 0; x < reference.lags_ + c.window - 1; ++x) {
          ASSERT_EQ(fast.factor(capture, x), reference.factor(capture, x)) << x;
        }
      }
      reference.carry_over();
    }
  }
}

// Weights and factors (extended) of a set of sums.
struct SumCase {
  const char* name;
  std::size_t window;
  std::function<extended(std::mt19937_64&, std::size_t j)> weight;
  std::function<extended(std::mt19937_64&, std::size_t x)> factor;
};

// Half the gap above a single-precision value, give or take a little (0 to 2^-26 of it).
extended half_gap(float value, std::mt19937_64& rng) {
  const auto d = (static_cast<int>(rng() % 9) - 4) * static_cast<int>(rng() % 4096);
  const float gap = std::nextafter(std::fabs(value), 1e30f) - std::fabs(value);
  const extended half = static_cast<extended>(gap) / 2;
  return (std::signbit(value) ? -half : half) * (widen(1.0) + d * widen(0x1p-40));
}

// On every vector target, with the default margin and one that proves no step: capture-like
// terms, and sums driven onto ties and near-ties of single precision (even positions: a float,
// then half its gap, give or take bits only extended precision holds; long sums whose last
// term does that) and below the normal single-precision range.
TEST(LagSumsTest, VectorSumsEqualTheExtendedSums) {
  std::uniform_real_distribution<float> amplitude(0.0055f, 1.41f);
  std::vector<float> bases(4096);
  std::vector<extended> made;  // the factors so far of the case being made
  const auto one = [](std::mt19937_64&, std::size_t) { return widen(1.0); };
  const std::vector<SumCase> cases = {
      {"capture-like", 301,
       [&](std::mt19937_64& rng, std::size_t) {
         return widen(4.0) / 301 * (static_cast<extended>(amplitude(rng)) / 0.6f - 1);
       },
       [&](std::mt19937_64& rng, std::size_t) { return static_cast<extended>(amplitude(rng)) / 0.6f - 1; }},
      {"near ties", 2, one,
       [&](std::mt19937_64& rng, std::size_t x) {
         const float base =
             std::ldexp(static_cast<float>(rng() % 0xffffff + 1), static_cast<int>(rng() % 40) - 50);
         if (x % 2 == 0) return static_cast<extended>(bases[x] = rng() % 2 ? base : -base);
         return half_gap(bases[x - 1], rng);
       }},
      // 40 terms of weight 1 (the last 2^-20) whose last step lands next to a midpoint: the
      // sum is far larger than its last term, and so is the error of its double evaluation.
      {"long sums", 40, [](std::mt19937_64&, std::size_t j) { return widen(j == 39 ? 0x1p-20 : 1.0); },
       [&](std::mt19937_64& rng, std::size_t x) {
         if (x == 0) made.clear();
         float sum = 0.0f;
         for (std::size_t k = x - 39; x >= 39 && k < x; ++k) sum = static_cast<float>(sum + made[k]);
         made.push_back(x < 39 ? widen(1.0) + static_cast<extended>(rng() % 4096) / 4096
                               : half_gap(sum, rng) * 0x1p20);
         return made.back();
       }},
      // A term that all but cancels the sum, leaving a midpoint (v + 2^-64) give or take 2^-62 or
      // less: the term's rounding to double moves the sum by more than that.
      {"cancelling", 2, one,
       [&](std::mt19937_64& rng, std::size_t x) {
         if (x % 2 == 0)
           return static_cast<extended>(bases[x] = std::ldexp(static_cast<float>(rng() % 0xffffff + 1), -24));
         const float v = std::ldexp(static_cast<float>(rng() % 0x800000 + 0x800000), -63);
         return v + (static_cast<int>(rng() % 9) - 3) * widen(0x1p-64) - bases[x - 1];
       }},
      {"subnormal sums", 3, one,
       [](std::mt19937_64& rng, std::size_t) {
         return static_cast<extended>(
             std::ldexp(static_cast<double>(rng() >> 11), -190 + static_cast<int>(rng() % 30)));
       }},
  };
  const std::size_t lags = 3 * 64 + 21;  // whole groups of vectors and an extended tail
  int targets = 0;
  for (const SumCase& c : cases) {
    std::mt19937_64 rng(9);
    std::vector<extended> weights(c.window);
    for (std::size_t j = 0; j < c.window; ++j) weights[j] = c.weight(rng, j);
    const std::vector<double> rounded(weights.begin(), weights.end());
    SplitFactors factors;
    for (std::size_t x = 0; x < lags + c.window; ++x) {
      const extended factor = c.factor(rng, x);
      factors.high.push_back(static_cast<double>(factor));
      factors.low.push_back(static_cast<double>(factor - factors.high.back()));
    }
    const LagTerms terms{weights, rounded, factors};
    std::vector<float> want(lags);
    sum_lags_extended(terms, 0, lags, want.data());
    // The double step of processors whose extended arithmetic is software, with the extended
    // step where it declines.
    for (std::size_t i = 0; i < lags; ++i) {
      float sum = 0.0f;
      for (std::size_t j = 0; j < c.window; ++j) {
        if (!lag_step_double(sum, rounded[j], factors.high[i + j])) {
          sum = static_cast<float>(sum +
                                   weights[j] * (static_cast<extended>(factors.high[i + j]) + factors.low[i + j]));
        }
      }
      ASSERT_EQ(std::bit_cast<std::uint32_t>(sum), std::bit_cast<std::uint32_t>(want[i]))
          << c.name << ", lag " << i;
    }
    test::for_each_vector_target([&](const std::string& target) {
      targets += vector_sums_supported();
      for (const double margin : {kVectorSumMargin, 1.0}) {
        std::vector<float> got(lags);
        sum_lags_vector(terms, 0, lags, got.data(), margin);
        for (std::size_t i = 0; i < lags; ++i) {
          ASSERT_EQ(std::bit_cast<std::uint32_t>(got[i]), std::bit_cast<std::uint32_t>(want[i]))
              << c.name << " on " << target << ", margin " << margin << ", lag " << i;
        }
      }
    });
  }
#if defined(__x86_64__) || defined(__aarch64__)
  EXPECT_GT(targets, 0) << "no vector target ran the sums";  // every such processor has one
#endif
}

}  // namespace
}  // namespace iq
