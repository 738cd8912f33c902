// speccal and its baseline fit: the calibrated ratio per bin, a known polynomial and line
// recovered, and tables that are not spectra, of unequal lengths or with a zero reference bin
// refused in one line with nothing written.
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
  for (const std::string& line : test::read_lines(path)) values.push_back(std::stod(line.substr(line.find("    "))));
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

TEST_F(SpeccalTest, WritesOnMinusOffOverOffPerBin) {
  write_text(on, "-2    3.000\n-1    10.000\n0    2.500\n1    0.000\n");
  write_text(off, "-2    2.000\n-1    8.000\n0    5.000\n1    4.000\n");
  const auto result = run();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(test::read_text(cal), "-2    0.50000\n-1    0.25000\n0    -0.50000\n1    -1.00000\n");
  EXPECT_EQ(result.out, "On=" + on + "    Off=" + off + "    Outfile=" + cal + "   Bins=4\n");
}

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
  // Three points off a line: the fitted line is the one the normal equations give by hand.
  const std::vector<double> bins{0, 1, 2};
  const std::vector<double> values{1, 2, 4};
  const Baseline fit = fit_baseline(bins, values, 1);
  // Slope 1.5 per bin, intercept 5/6, in x = bin / 2.
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
    EXPECT_NE(result.out.find("Baseline order " + std::to_string(c.order) + " fitted to 451 bins, rms residual 0.00000"),
              std::string::npos)
        << result.out;
    const auto values = values_of(cal);
    ASSERT_EQ(values.size(), 512u);
    for (int bin = -256; bin < 256; ++bin) {
      EXPECT_NEAR(values[bin + 256], line(bin), 1.1e-5) << "order " << c.order << ", bin " << bin;
    }
  }
}

TEST_F(SpeccalTest, RefusesTablesThatAreNotSpectraOrDoNotMatch) {
  struct Case {
    std::string on_text;
    std::string off_text;
    std::string err;
  };
  const std::string good = "-1    1.000\n0    2.000\n";
  const Case cases[] = {
      {good + "1    3.000\n", good,
       "speccal: the tables differ in length: " + on + " has 3 bins, " + off + " has 2\n"},
      {"0    1.000\n1    2.000\n", good,
       "speccal: the tables differ in their bins: " + on + " starts at bin 0, " + off + " at bin -1\n"},
      {"# iqwaterfall points=2 frames_per_row=1\n" + good, good,
       "speccal: " + on + " is not a spectrum table: line 1 has 4 fields, not a bin and a value\n"},
      {good, "-1    1.000    7\n0    2.000\n",
       "speccal: " + off + " is not a spectrum table: line 1 has 3 fields, not a bin and a value\n"},
      {"-1    nan\n0    2.000\n", good, "speccal: " + on + " is not a spectrum table: line 1 holds 'nan', not a finite value\n"},
      {"-1    1.000\n1    2.000\n", good, "speccal: " + on + " is not a spectrum table: line 2 has bin 1 after bin -1\n"},
      {"-1.5    1.000\n", good, "speccal: " + on + " is not a spectrum table: line 1 starts with '-1.5', not a bin number\n"},
      {"", good, "speccal: " + on + " is not a spectrum table: it has no bins\n"},
      {good, std::string(5000, '\x80'), "speccal: " + off + " is not a spectrum table: line 1 is longer than 1000 characters\n"},
      {"\n" + std::string(1001, '1') + "\n", good,
       "speccal: " + on + " is not a spectrum table: line 2 is longer than 1000 characters\n"},
      {good, "-1    1.000\n0    0.000\n",
       "speccal: " + off + ": the reference's bin 0 is 0; (on - off) / off needs every reference bin above 0\n"},
      {good, "-1    -2.000\n0    1.000\n",
       "speccal: " + off + ": the reference's bin -1 is -2; (on - off) / off needs every reference bin above 0\n"},
  };
  for (const Case& c : cases) {
    write_text(on, c.on_text);
    write_text(off, c.off_text);
    write_text(cal, "previous table\n");
    const auto result = run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(test::read_text(cal), "previous table\n");
  }
}

TEST_F(SpeccalTest, RefusesBadOptionsAndArguments) {
  write_spectrum(on, -4, 8, [](int) { return 2.0; });
  write_spectrum(off, -4, 8, [](int) { return 1.0; });
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const std::string usage = std::string(kSpeccalUsage) + "\n";
  const Case cases[] = {
      {{on, off}, usage},
      {{on, off, cal, "more"}, usage},
      {{on, off, cal, "--baseline", "11"}, "speccal: option --baseline must be an order from 0 to 10\n"},
      {{on, off, cal, "-b", "-1"}, "speccal: option -b must be an order from 0 to 10\n"},
      {{on, off, cal, "--line", "-2:2"},
       "speccal: option --line needs --baseline (the window is what the baseline fit leaves out)\n"},
      {{on, off, cal, "-b", "1", "--line=3:-3"}, "speccal: option --line must be FROM:TO, two bin numbers with FROM at most TO\n"},
      {{on, off, cal, "-b", "1", "--line", "3"}, "speccal: option --line must be FROM:TO, two bin numbers with FROM at most TO\n"},
      {{on, off, cal, "-b", "2", "--line", "-3:3"},
       "speccal: a baseline of order 2 needs at least 3 bins outside the line window; there are 1\n"},
      {{on, off, cal, "--width", "3"}, "speccal: unknown option '--width'\n"},
      {{dir.path("none.txt"), off, cal}, "speccal: Can't open table " + dir.path("none.txt") + "\n"},
      {{on, off, on}, "speccal: output file " + on + " is the same file as an input; refusing to overwrite it\n"},
      {{on, off, "/dev/full"}, "speccal: Can't write file /dev/full: No space left on device\n"},
  };
  for (const Case& c : cases) {
    const auto result = run_tool(run_speccal, c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(test::exists(cal));
  }
  EXPECT_EQ(run({"-b", "2", "--line", "-3:1"}).status, 0);  // three bins left: just enough
}

}  // namespace
}  // namespace iq
