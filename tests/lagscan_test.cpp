// lagscan's correlator against a plain transcription of the original: its buffers, one lag at
// a time, every term evaluated in full as written. Coefficients, weights, factors, means and
// peaks must match bit for bit over several blocks.
#include <cmath>

#include "arith/precision.hpp"
#include "io/capture_format.hpp"
#include "iqsim.hpp"
#include "lag_correlator.hpp"
#include "lag_sums.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// An extended value as two doubles that hold all its bits, for comparing traces bytewise.
void note(std::vector<double>& trace, extended value) {
  trace.push_back(static_cast<double>(value));
  trace.push_back(static_cast<double>(value - static_cast<extended>(trace.back())));
}

// The transcription: every block read into the original's buffers, then cor_dat.
class PlainLagscan {
 public:
  explicit PlainLagscan(int window) : slen_(window) {}
  void block(const std::uint8_t* bytes1, const std::uint8_t* bytes2, std::vector<double>& trace) {
    const int carry = count_ > 0 ? 1 : 0;
    for (int k = 0; k < 8192; ++k) {
      const auto amplitude = [](const std::uint8_t* iq) {
        const float i = static_cast<float>((static_cast<extended>(static_cast<float>(iq[0])) - widen(127.5)) / widen(128.0));
        const float q = static_cast<float>((static_cast<extended>(static_cast<float>(iq[1])) - widen(127.5)) / widen(128.0));
        return static_cast<float>(std::sqrt(static_cast<double>(static_cast<extended>(i) * i + static_cast<extended>(q) * q)));
      };
      ra_[carry * slen_ + k] = amplitude(bytes1 + 2 * k);
      rb_[carry * slen_ + k] = amplitude(bytes2 + 2 * k);
      if (carry == 0 && k >= 7000 && k < 7000 + slen_) {
        r1_ = static_cast<float>(r1_ + widen(1.0) / slen_ * ra_[k]);
        r2_ = static_cast<float>(r2_ + widen(1.0) / slen_ * rb_[k]);
        rar_[k - 7000] = ra_[k];
        rbr_[k - 7000] = rb_[k];
      }
    }
    const int lags = carry == 1 ? 8192 : 8192 - slen_;
    for (int i = 0; i < lags; ++i) {
      float dato1 = 0.0f, dato2 = 0.0f;
      for (int j = 0; j < slen_; ++j) {
        dato1 = static_cast<float>(dato1 + widen(4.0) / slen_ * (static_cast<extended>(rar_[j]) / r1_ - 1) * (static_cast<extended>(rb_[i + j]) / r2_ - 1));
        dato2 = static_cast<float>(dato2 + widen(4.0) / slen_ * (static_cast<extended>(rbr_[j]) / r2_ - 1) * (static_cast<extended>(ra_[i + j]) / r1_ - 1));
      }
      if (dato1 > mx1_) mx1_ = dato1, nmx1_ = 8192 * count_ + i - carry * slen_;
      if (dato2 > mx2_) mx2_ = dato2, nmx2_ = 8192 * count_ + i - carry * slen_;
      trace.insert(trace.end(), {dato1, dato2});
    }
    // The parts of the terms on their own: a term rounded to double would rarely change a
    // single-precision sum.
    for (int j = 0; j < slen_; ++j) {
      note(trace, widen(4.0) / slen_ * (static_cast<extended>(rar_[j]) / r1_ - 1));
      note(trace, widen(4.0) / slen_ * (static_cast<extended>(rbr_[j]) / r2_ - 1));
    }
    for (int x = 0; slen_ > 0 && x < lags + slen_ - 1; ++x) {
      note(trace, static_cast<extended>(ra_[x]) / r1_ - 1);
      note(trace, static_cast<extended>(rb_[x]) / r2_ - 1);
    }
    trace.insert(trace.end(), {r1_, r2_, mx1_, mx2_, static_cast<double>(nmx1_ - 7000), static_cast<double>(nmx2_ - 7000)});
    ++count_;
    for (int m = 0; m < slen_; ++m) {  // the carry-over after the block's rows are out
      ra_[m] = ra_[(count_ > 1 ? 8192 : 8192 - slen_) + m];
      rb_[m] = rb_[(count_ > 1 ? 8192 : 8192 - slen_) + m];
    }
  }

 private:
  int slen_;
  std::vector<float> ra_ = std::vector<float>(16384), rb_ = ra_, rar_ = std::vector<float>(8192), rbr_ = rar_;
  float r1_ = 0.0f, r2_ = 0.0f, mx1_ = 0.0f, mx2_ = 0.0f;
  std::int64_t nmx1_ = 0, nmx2_ = 0, count_ = 0;
};

void fast_trace(LagCorrelator& fast, int window, const std::uint8_t* block1, const std::uint8_t* block2, std::vector<double>& trace) {
  fast.add_block({block1, static_cast<std::size_t>(kBlockBytes)}, {block2, static_cast<std::size_t>(kBlockBytes)});
  for (std::size_t i = 0; i < fast.one_on_two().size(); ++i) trace.insert(trace.end(), {fast.one_on_two()[i], fast.two_on_one()[i]});
  for (int j = 0; j < window; ++j) note(trace, fast.weight(1, j)), note(trace, fast.weight(2, j));
  for (std::size_t x = 0; window > 0 && x < fast.one_on_two().size() + window - 1; ++x) note(trace, fast.factor(1, x)), note(trace, fast.factor(2, x));
  trace.insert(trace.end(), {fast.mean1(), fast.mean2(), fast.peak_one_on_two().value, fast.peak_two_on_one().value,
                             static_cast<double>(fast.peak_one_on_two().lag), static_cast<double>(fast.peak_two_on_one().lag)});
}

TEST(LagscanTest, CorrelatorEqualsThePlainTranscription) {
  test::ScratchDir dir;
  // Noise, and a simulated sky seen by two receivers 77 samples apart.
  std::vector<std::vector<std::uint8_t>> captures{test::random_bytes(3 * kBlockBytes, 11), test::random_bytes(3 * kBlockBytes, 12)};
  for (const char* delay : {"0", "77"}) {
    ASSERT_EQ(test::run_tool(run_iqsim, {dir.path("a.bin"), "-n", "24576", "--delay", delay, "--noise", "12", "--rx-noise", "2", "-s", "5"}).status, 0);
    const std::string text = test::read_text(dir.path("a.bin"));
    captures.emplace_back(text.begin(), text.end());
  }
  // Windows of 0, 1, odd sizes and the largest; lag counts that leave tails of every group size.
  const std::tuple<int, unsigned, bool, int> cases[] = {{0, 1, false, 2}, {1, 1, false, 3}, {37, 2, false, 3},
                                                        {100, 3, true, 3}, {333, 1, true, 2}, {1192, 2, false, 2}};
  const auto block = [&](int capture, int b) { return captures[capture].data() + b * kBlockBytes; };
  test::expect_twins("correlator", 6, [&](std::mt19937_64&, int trial) { return cases[trial]; }, [&](auto c) {
    const auto [window, workers, sky, blocks] = c;
    LagCorrelator fast(window, workers);
    std::vector<double> trace;
    for (int b = 0; b < blocks; ++b) fast_trace(fast, window, block(sky ? 2 : 0, b), block(sky ? 3 : 1, b), trace);
    return trace;
  }, [&](auto c) {
    const auto [window, workers, sky, blocks] = c;
    PlainLagscan plain(window);
    std::vector<double> trace;
    for (int b = 0; b < blocks; ++b) plain.block(block(sky ? 2 : 0, b), block(sky ? 3 : 1, b), trace);
    return trace;
  });
}

TEST(LagscanTest, VectorSumsEqualTheExtendedSums) {
  if (!vector_sums_supported()) GTEST_SKIP() << "this processor has no AVX-512";
  // Amplitudes over the whole range of a capture, normalised as the correlator does; vector
  // groups and an extended tail. A margin of 1 proves no step: every step takes the fix-up.
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> amplitude(0.0055f, 1.41f);
  const std::size_t window = 301, lags = 3 * 64 + 21;
  std::vector<extended> weights(window);
  for (auto& weight : weights) weight = widen(4.0) / 301 * (static_cast<extended>(amplitude(rng)) / 0.6f - 1);
  const std::vector<double> rounded(weights.begin(), weights.end());
  SplitFactors factors;
  for (std::size_t x = 0; x < lags + window; ++x) {
    const extended factor = static_cast<extended>(amplitude(rng)) / 0.6f - 1;
    factors.high.push_back(static_cast<double>(factor));
    factors.low.push_back(static_cast<double>(factor - factors.high.back()));
  }
  const LagTerms terms{weights, rounded, factors};
  const auto sums = [&](auto sum) {
    return [&, sum](double margin) {
      std::vector<float> out(lags);
      sum(margin, out.data());
      return out;
    };
  };
  const double margins[] = {kVectorSumMargin, 1.0};
  test::expect_twins("lag sums", 2, [&](std::mt19937_64&, int trial) { return margins[trial]; },
                     sums([&](double margin, float* out) { sum_lags_vector(terms, 0, lags, out, margin); }),
                     sums([&](double, float* out) { sum_lags_extended(terms, 0, lags, out); }));
}

}  // namespace
}  // namespace iq
