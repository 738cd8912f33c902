// lagscan: the fast correlator against the plain transcription, the lag bookkeeping across
// blocks, the peaks, the console texts and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <regex>

#include "dsp/chunk_workers.hpp"
#include "iqsim.hpp"
#include "lag_correlator.hpp"
#include "dsp/vector_target.hpp"
#include "lag_sums.hpp"
#include "lag_step.hpp"
#include "lagscan.hpp"
#include "lagscan_reference.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

std::uint32_t bits(float value) {
  std::uint32_t word;
  std::memcpy(&word, &value, sizeof word);
  return word;
}

std::vector<std::uint8_t> simulated(const std::string& path, std::int64_t samples, std::int64_t delay) {
  const auto result = run_tool(run_iqsim, {path, "--force", "-n", std::to_string(samples), "--delay", std::to_string(delay),
                                           "--noise", "12", "--rx-noise", "2", "-s", "5"});
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string text = test::read_text(path);
  return {text.begin(), text.end()};
}

TEST(LagCorrelatorTest, MatchesThePlainTranscriptionBitForBit) {
  test::ScratchDir dir;
  const std::int64_t blocks = 3;
  const auto noise1 = test::random_bytes(blocks * kBlockBytes, 11);
  const auto noise2 = test::random_bytes(blocks * kBlockBytes, 12);
  const auto sky1 = simulated(dir.path("a.bin"), blocks * kBlockSamples, 0);
  const auto sky2 = simulated(dir.path("b.bin"), blocks * kBlockSamples, 77);
  struct Case {
    int window;
    unsigned workers;
    bool sky;
    int blocks;
  };
  // Windows of 1, odd sizes and the largest; lag counts that leave tails of every group size.
  for (const Case c : {Case{1, 1, false, 3}, Case{37, 2, false, 3}, Case{100, 3, true, 3}, Case{333, 1, true, 2},
                       Case{1192, 2, false, 2}}) {
    const auto& capture1 = c.sky ? sky1 : noise1;
    const auto& capture2 = c.sky ? sky2 : noise2;
    test::ReferenceLagscan reference(c.window);
    LagCorrelator fast(c.window, c.workers);
    for (int b = 0; b < c.blocks; ++b) {
      const std::uint8_t* block1 = capture1.data() + b * kBlockBytes;
      const std::uint8_t* block2 = capture2.data() + b * kBlockBytes;
      reference.block(block1, block2);
      fast.add_block({block1, static_cast<std::size_t>(kBlockBytes)}, {block2, static_cast<std::size_t>(kBlockBytes)});
      SCOPED_TRACE("window " + std::to_string(c.window) + " block " + std::to_string(b));
      ASSERT_EQ(fast.one_on_two().size(), static_cast<std::size_t>(reference.lags()));
      const auto dato1 = reference.dato1();
      const auto dato2 = reference.dato2();
      for (std::size_t i = 0; i < dato1.size(); ++i) {
        ASSERT_EQ(bits(fast.one_on_two()[i]), bits(dato1[i])) << "lag index " << i;
        ASSERT_EQ(bits(fast.two_on_one()[i]), bits(dato2[i])) << "lag index " << i;
      }
      // The weights and factors hold every bit of extended precision: a term rounded to double
      // would rarely change a single-precision sum, so they are checked on their own.
      for (int j = 0; j < c.window; ++j) {
        ASSERT_EQ(fast.weight(1, j), reference.weight1(j)) << j;
        ASSERT_EQ(fast.weight(2, j), reference.weight2(j)) << j;
      }
      for (int x = 0; x < reference.lags() + c.window - 1; ++x) {
        ASSERT_EQ(fast.factor(1, x), reference.factor1(x)) << x;
        ASSERT_EQ(fast.factor(2, x), reference.factor2(x)) << x;
      }
      reference.carry_over();
      EXPECT_EQ(bits(fast.mean1()), bits(reference.r1()));
      EXPECT_EQ(bits(fast.mean2()), bits(reference.r2()));
      EXPECT_EQ(bits(fast.peak_one_on_two().value), bits(reference.mx1()));
      EXPECT_EQ(bits(fast.peak_two_on_one().value), bits(reference.mx2()));
      EXPECT_EQ(fast.peak_one_on_two().lag, reference.nmx1() - 7000);
      EXPECT_EQ(fast.peak_two_on_one().lag, reference.nmx2() - 7000);
    }
  }
}

// On every vector target, with the default margin and with one that proves no step.
TEST(LagSumsTest, VectorSumsEqualTheExtendedSums) {
  // Amplitudes over the whole range of a capture, normalised as the correlator does.
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> amplitude(0.0055f, 1.41f);
  const std::size_t window = 301;
  const std::size_t lags = 3 * 64 + 21;  // whole groups of vectors and an extended tail
  const float mean = 0.6f;
  std::vector<extended> weights(window);
  for (auto& weight : weights) weight = widen(4.0) / 301 * (static_cast<extended>(amplitude(rng)) / mean - 1);
  const std::vector<double> rounded(weights.begin(), weights.end());
  SplitFactors factors;
  for (std::size_t x = 0; x < lags + window; ++x) {
    const extended factor = static_cast<extended>(amplitude(rng)) / mean - 1;
    factors.high.push_back(static_cast<double>(factor));
    factors.low.push_back(static_cast<double>(factor - factors.high.back()));
  }
  const LagTerms terms{weights, rounded, factors};
  std::vector<float> extended_sums(lags);
  sum_lags_extended(terms, 0, lags, extended_sums.data());
  int targets = 0;
  test::for_each_vector_target([&](const std::string& target) {
    targets += vector_sums_supported();
    // A margin of 1 proves no step, so every step takes the extended fix-up.
    for (const double margin : {kVectorSumMargin, 1.0}) {
      std::vector<float> vector_sums(lags);
      sum_lags_vector(terms, 0, lags, vector_sums.data(), margin);
      for (std::size_t i = 0; i < lags; ++i) {
        ASSERT_EQ(bits(vector_sums[i]), bits(extended_sums[i])) << target << " margin " << margin << " lag " << i;
      }
    }
    std::vector<float> chosen(lags);
    sum_lags(terms, 0, lags, chosen.data());
    for (std::size_t i = 0; i < lags; ++i) ASSERT_EQ(bits(chosen[i]), bits(extended_sums[i])) << target << " lag " << i;
  });
#if defined(__x86_64__) || defined(__aarch64__)
  EXPECT_GT(targets, 0) << "no vector target ran the sums";  // every such processor has one
#endif
}

TEST(LagSumsTest, DoubleStepsEqualTheExtendedStepsOrDecline) {
  std::mt19937_64 rng(12);
  std::uniform_real_distribution<float> amplitude(0.0055f, 1.41f);
  long proven = 0;
  long naive_differs = 0;
  const long steps = 2000000;
  float sum = 0.0f;
  for (long k = 0; k < steps; ++k) {
    extended weight = widen(4.0) / 301 * (static_cast<extended>(amplitude(rng)) / 0.6f - 1);
    extended factor = static_cast<extended>(amplitude(rng)) / 0.6f - 1;
    if (k % 2 == 0) {  // a term that puts the sum next to a midpoint between single values
      const float gap = std::nextafter(std::fabs(sum), 1e30f) - std::fabs(sum);
      weight = widen(1.0);
      factor = static_cast<extended>(gap) / 2 * (widen(1.0) + static_cast<extended>(static_cast<int>(rng() % 9) - 4) *
                                                                     widen(0x1p-40) * static_cast<int>(rng() % 4096));
      if (sum < 0) factor = -factor;
    }
    const auto high = static_cast<double>(factor);
    const auto low = static_cast<double>(factor - high);
    const float want = static_cast<float>(sum + weight * (static_cast<extended>(high) + low));
    float got = sum;
    if (lag_step_double(got, static_cast<double>(weight), high)) {
      ASSERT_EQ(bits(got), bits(want)) << "step " << k;
      ++proven;
    } else {
      ASSERT_EQ(bits(got), bits(sum)) << "declined but changed, step " << k;
    }
    naive_differs += bits(static_cast<float>(static_cast<double>(sum) + static_cast<double>(weight) * high)) != bits(want);
    sum = (k % 100000 == 99999) ? 0.0f : want;
  }
  EXPECT_GT(naive_differs, 1000);  // the hard cases were reached
  EXPECT_GT(proven, steps / 2);
  // A margin of 1 proves nothing.
  float unchanged = 1.5f;
  EXPECT_FALSE(lag_step_double(unchanged, 0.25, 0.5, 1.0));
}

TEST(LagCorrelatorTest, EqualCoefficientsKeepTheFirstPosition) {
  // Identical captures whose amplitudes repeat every 64 samples: every position 64 apart from
  // a best one gives exactly the same sum. The first of them, at sample 7000 % 64 = 24, keeps
  // the peak through both blocks.
  const auto pattern = test::random_bytes(128, 3);
  std::vector<std::uint8_t> capture(2 * kBlockBytes);
  for (std::size_t k = 0; k < capture.size(); ++k) capture[k] = pattern[k % pattern.size()];
  LagCorrelator correlator(640, 2);
  correlator.add_block({capture.data(), 16384}, {capture.data(), 16384});
  EXPECT_EQ(correlator.one_on_two()[24], correlator.one_on_two()[7000]);
  EXPECT_EQ(correlator.peak_one_on_two().lag, 24 - 7000);
  correlator.add_block({capture.data() + 16384, 16384}, {capture.data() + 16384, 16384});
  EXPECT_EQ(correlator.peak_one_on_two().lag, 24 - 7000);
  EXPECT_EQ(correlator.peak_two_on_one().lag, 24 - 7000);
}

class LagscanTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string in1 = dir.path("rx1.bin");
  std::string in2 = dir.path("rx2.bin");
  std::string table = dir.path("lags.txt");
  test::RunResult run(const std::string& window, const std::string& blocks) {
    return run_tool(run_lagscan, {in1, in2, table, window, blocks});
  }
  std::string closing(const std::string& window) const {
    return "\nInfile1=" + in1 + "    Infile2=" + in2 + "    Outfile=" + table + "   No Samples=" + window + "\n";
  }
  static std::string opening(std::int64_t bytes, std::int64_t samples) {
    return "No. Input Bytes = " + std::to_string(bytes) + "   No. of IQ Samples=" + std::to_string(samples) +
           "\n\nBlock\tSample\tCorr\tOffset\tCorr\tOffset\nSize\tWidth\tPeak1\t1 on 2\tPeak2   2 on 1\n\n";
  }
  // The per-block peak lines of a run's console, split into their six fields.
  static std::vector<std::vector<std::string>> peak_lines(const std::string& console) {
    std::vector<std::vector<std::string>> lines;
    const std::regex line(R"((\d+)\t(\d+)\t(-?[0-9.]+)\t(-?\d+)\t(-?[0-9.]+)\t(-?\d+)\n)");
    for (std::sregex_iterator it(console.begin(), console.end(), line), end; it != end; ++it) {
      lines.push_back({(*it)[1], (*it)[2], (*it)[3], (*it)[4], (*it)[5], (*it)[6]});
    }
    return lines;
  }
};

TEST_F(LagscanTest, IdenticalCapturesGiveEqualColumnsAndThePositionsRunOnAcrossBlocks) {
  test::write_bytes(in1, test::random_bytes(2 * kBlockBytes, 8));
  test::write_bytes(in2, test::random_bytes(2 * kBlockBytes, 8));
  const auto result = run("100", "2");
  ASSERT_EQ(result.status, 0) << result.err;
  const auto peaks = peak_lines(result.out);
  ASSERT_EQ(peaks.size(), 2u);
  const std::string block0 = "8192\t100\t" + peaks[0][2] + "\t" + peaks[0][3] + "\t" + peaks[0][4] + "\t" + peaks[0][5] + "\n";
  const std::string block1 = "8192\t100\t" + peaks[1][2] + "\t" + peaks[1][3] + "\t" + peaks[1][4] + "\t" + peaks[1][5] + "\n";
  EXPECT_EQ(result.out, opening(32768, 16384) + block0 + "No IQ amplitudes cross-correlated: = 8091\n" + block1 +
                            "No IQ amplitudes cross-correlated: = 16283\n" + closing("100"));
  for (const auto& peak : peaks) {
    EXPECT_EQ(peak[2], peak[4]);
    EXPECT_EQ(peak[3], peak[5]);
    EXPECT_EQ(peak[3], "0");  // the window finds itself
  }
  const auto rows = test::read_lines(table);
  ASSERT_EQ(rows.size(), 8092u + 8192u);
  const std::regex row(R"((-?\d+)    (-?\d+\.\d{7})    (-?\d+\.\d{7}))");
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::smatch fields;
    ASSERT_TRUE(std::regex_match(rows[r], fields, row)) << rows[r];
    ASSERT_EQ(std::stoll(fields[1]), static_cast<long long>(r) - 7000) << "row " << r;
    ASSERT_EQ(fields[2], fields[3]) << "row " << r;
  }
  EXPECT_EQ(rows[8091].substr(0, 8), "1091    ");
  EXPECT_EQ(rows[8092].substr(0, 8), "1092    ");
  EXPECT_EQ(rows.back().substr(0, 8), "9283    ");
}

TEST_F(LagscanTest, FindsTheDelayOfASecondReceiverBothWays) {
  for (const std::int64_t delay : {37, -250, 1500}) {
    simulated(in1, 2 * kBlockSamples, 0);
    simulated(in2, 2 * kBlockSamples, delay);
    const auto result = run("1000", "2");
    ASSERT_EQ(result.status, 0) << result.err;
    const auto peaks = peak_lines(result.out);
    ASSERT_EQ(peaks.size(), 2u);
    EXPECT_EQ(peaks[1][3], std::to_string(delay)) << result.out;
    EXPECT_EQ(peaks[1][5], std::to_string(-delay)) << result.out;
  }
}

TEST_F(LagscanTest, BlockCountsAreDecidedInPairsAndAnEmptyWindowGivesZeros) {
  test::write_bytes(in1, test::random_bytes(5 * kBlockBytes, 1));
  test::write_bytes(in2, test::random_bytes(5 * kBlockBytes, 2));
  struct Case {
    const char* blocks;
    std::int64_t samples;  // pairs * 16384 as printed
    std::size_t blocks_run;
  };
  for (const Case c : {Case{"0", 0, 0}, Case{"1", 0, 0}, Case{"2", 16384, 2}, Case{"5", 32768, 4},
                       Case{"10", 32768, 4}, Case{"-4", -32768, 0}, Case{"+1", 0, 0}}) {
    const auto result = run("0", c.blocks);
    ASSERT_EQ(result.status, 0) << c.blocks;
    std::string expected = opening(81920, c.samples);
    for (std::size_t b = 0; b < c.blocks_run; ++b) {
      expected += "8192\t0\t0.000\t-7000\t0.000\t-7000\nNo IQ amplitudes cross-correlated: = " +
                  std::to_string(8192 * b + 8191) + "\n";
    }
    EXPECT_EQ(result.out, expected + closing("0")) << c.blocks;
    // No window: 8192 rows in every block, all zero, lags on from -7000 without a gap.
    const auto rows = test::read_lines(table);
    ASSERT_EQ(rows.size(), 8192 * c.blocks_run) << c.blocks;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      ASSERT_EQ(rows[r], std::to_string(static_cast<long long>(r) - 7000) + "    0.0000000    0.0000000");
    }
  }
}

TEST_F(LagscanTest, RefusalsCreateNoTable) {
  test::write_bytes(in1, test::random_bytes(kBlockBytes, 1));
  const auto usage = run_tool(run_lagscan, {in1, in2, table, "10"});
  EXPECT_EQ(usage.out, std::string(kLagscanUsage) + "\n");
  EXPECT_EQ(usage.status, 1);

  const auto second_missing = run("10", "2");
  EXPECT_EQ(second_missing.out, "Can't open file " + in2 + ". \n");
  EXPECT_EQ(second_missing.status, 1);
  const auto first_missing = run_tool(run_lagscan, {dir.path("none.bin"), in1, table, "10", "2"});
  EXPECT_EQ(first_missing.out, "Can't open file " + dir.path("none.bin") + ". \n");

  test::write_bytes(in2, test::random_bytes(kBlockBytes + 2, 1));
  const auto unequal = run("10", "2");
  EXPECT_EQ(unequal.out, "Infiles unequal length\n");
  EXPECT_EQ(unequal.status, 1);

  test::write_bytes(in2, test::random_bytes(kBlockBytes, 1));
  for (const char* window : {"-1", "1193", "8192", "100000"}) {
    const auto refused = run(window, "2");
    EXPECT_EQ(refused.status, 1) << window;
    EXPECT_EQ(refused.out, "") << window;
    EXPECT_EQ(refused.err, std::string("lagscan: sample length must be from 0 to 1192 (got '") + window + "')\n");
  }
  EXPECT_FALSE(test::exists(table));

  const auto onto_input = run_tool(run_lagscan, {in1, in2, in2, "10", "2"});
  EXPECT_EQ(onto_input.status, 1);
  EXPECT_NE(onto_input.err.find("same file as an input"), std::string::npos);
  test::write_bytes(in1, test::random_bytes(2 * kBlockBytes, 1));
  test::write_bytes(in2, test::random_bytes(2 * kBlockBytes, 2));
  EXPECT_EQ(run("1192", "2").status, 0);
}

}  // namespace
}  // namespace iq
