// SPDX-License-Identifier: MIT
// speccal's baseline fit: a known polynomial and a line recovered by least squares. The ratio
// per bin, the console and every refusal are in the golden corpus.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "baseline_fit.hpp"
#include "io/text_format.hpp"
#include "speccal.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

// A spectrum table of bins [first, first + count) with values f(bin), all digits kept.
void write_spectrum(const std::string& path, int first, int count, const std::function<double(int)>& f) {
  std::string text;
  for (int bin = first; bin < first + count; ++bin) text += cformat("%d    %.17g\n", bin, f(bin));
  write_text(path, text);
}

// The value column of a written table.
std::vector<double> values_of(const std::string& path) {
  std::vector<double> values;
  for (const std::string& line : test::read_lines(path)) {
    if (!line.starts_with('#')) values.push_back(std::stod(line.substr(line.find("    "))));
  }
  return values;
}

class SpeccalTest : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string on = dir.path("on.txt");
  std::string off = dir.path("off.txt");
  std::string cal = dir.path("cal.txt");
  test::RunResult run(std::vector<std::string> options = {}) {
    std::vector<std::string> args{on, off, cal};
    args.insert(args.end(), options.begin(), options.end());
    return run_tool(run_speccal, args);
  }
};

TEST_F(SpeccalTest, BaselineFitRecoversAKnownPolynomial) {
  // Points of an exact polynomial: least squares gives it back, at every order up to 10.
  for (int order = 0; order <= 10; ++order) {
    std::vector<double> coefficients;
    for (int j = 0; j <= order; ++j) coefficients.push_back(std::sin(1.0 + j) * 0.3);
    const auto poly = [&](double x) {
      double sum = 0.0;
      for (int j = order; j >= 0; --j) sum = sum * x + coefficients[j];
      return sum;
    };
    std::vector<double> bins;
    std::vector<double> values;
    for (int bin = -2048; bin < 2048; ++bin) {
      if (bin >= -100 && bin <= 300) continue;  // a window left out
      bins.push_back(bin);
      values.push_back(poly(bin / 2048.0));
    }
    const Baseline fit = fit_baseline(bins, values, order);
    ASSERT_EQ(fit.coefficients.size(), static_cast<std::size_t>(order + 1));
    EXPECT_EQ(fit.scale, 2048.0);
    for (int j = 0; j <= order; ++j) EXPECT_NEAR(fit.coefficients[j], coefficients[j], 1e-9) << order << " " << j;
    for (const int bin : {-2048, -7, 0, 150, 2047}) EXPECT_NEAR(fit.value(bin), poly(bin / 2048.0), 1e-11);
  }
}

TEST_F(SpeccalTest, BaselineFitIsTheLeastSquaresLine) {
  // Three points off a line: slope 1.5 per bin and intercept 5/6, as the normal equations give.
  const Baseline fit = fit_baseline(std::vector<double>{0, 1, 2}, std::vector<double>{1, 2, 4}, 1);
  EXPECT_NEAR(fit.value(0), 5.0 / 6.0, 1e-14);
  EXPECT_NEAR(fit.value(2), 5.0 / 6.0 + 3.0, 1e-14);
}

TEST_F(SpeccalTest, RemovesAPassbandAndABaselineAndLeavesTheLine) {
  // off: a passband with ripple; on: the same passband times (1 + baseline + line), so that
  // (on - off) / off is the baseline plus the line, and the fit outside the window removes
  // the baseline alone.
  const auto passband = [](int bin) { return 1000.0 + 3.0 * bin + 40.0 * std::cos(bin / 30.0); };
  const auto line = [](int bin) { return 0.08 * std::exp(-std::pow((bin - 40) / 6.0, 2)); };
  struct Case {
    int order;
    std::function<double(int)> baseline;
  };
  const Case cases[] = {
      {0, [](int) { return 0.02; }},
      {1, [](int bin) { return 0.01 - 0.0001 * bin; }},
      {3, [](int bin) { return 0.01 + 2e-5 * bin - 1e-7 * bin * bin + 2e-10 * bin * bin * bin; }},
  };
  for (const Case& c : cases) {
    write_spectrum(off, -256, 512, passband);
    write_spectrum(on, -256, 512, [&](int bin) { return passband(bin) * (1.0 + c.baseline(bin) + line(bin)); });
    const auto result = run({"--baseline", std::to_string(c.order), "--line", "10:70"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(
        result.out.find("Baseline order " + std::to_string(c.order) + " fitted to 451 bins, rms residual 0.00000"),
        std::string::npos)
        << result.out;
    const auto values = values_of(cal);
    ASSERT_EQ(values.size(), 512u);
    for (int bin = -256; bin < 256; ++bin) {
      EXPECT_NEAR(values[bin + 256], line(bin), 1e-9) << "order " << c.order << ", bin " << bin;
    }
  }
}

}  // namespace
}  // namespace iq
