// SPDX-License-Identifier: MIT
// speccal's fits: a known polynomial baseline and known Gaussians recovered by least squares,
// the kelvin scale and the line report's arithmetic. The ratio per bin,
// the console and every refusal are in the golden corpus.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "baseline_fit.hpp"
#include "gauss_fit.hpp"
#include "io/tool_error.hpp"
#include "iqvelocity.hpp"
#include "kelvin.hpp"
#include "line_report.hpp"
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

TEST(SpeccalLine, GaussianFitRecoversKnownComponentsWithTheirUncertainties) {
  // Points every 0.5 km/s, noise of a fixed seed; one and two components.
  struct Case {
    std::vector<Gaussian> truth;
    double noise;
  };
  const Case cases[] = {
      {{{3.0, 10.0, 4.0}}, 0.0}, {{{3.0, 10.0, 4.0}}, 0.02}, {{{2.0, -20.0, 5.0}, {1.2, 15.0, 3.0}}, 0.02}};
  for (const Case& c : cases) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> x, y;
    for (double v = -60.0; v <= 60.0; v += 0.5) {
      x.push_back(v);
      y.push_back(gaussian_sum(c.truth, v) + c.noise * noise(random));
    }
    const auto fit = fit_gaussians(x, y, static_cast<int>(c.truth.size()), c.noise);
    ASSERT_TRUE(fit);
    ASSERT_EQ(fit->components.size(), c.truth.size());
    for (std::size_t k = 0; k < c.truth.size(); ++k) {
      const Gaussian &g = fit->components[k], &e = fit->errors[k], &t = c.truth[k];
      const double slack = c.noise == 0.0 ? 1e-9 : 0.0;
      EXPECT_LE(std::fabs(g.peak - t.peak), 4.0 * e.peak + slack) << k;
      EXPECT_LE(std::fabs(g.centre - t.centre), 4.0 * e.centre + slack) << k;
      EXPECT_LE(std::fabs(g.sigma - t.sigma), 4.0 * e.sigma + slack) << k;
    }
  }
}

TEST(SpeccalLine, OneComponentsUncertaintiesAreTheFisherMatrixs) {
  // For a dense sampling dx of a Gaussian (a, s) in noise rms: var(a) = 3 rms^2 dx / (2 s
  // sqrt(pi)), var(centre) = var(s) = 2 rms^2 s dx / (a^2 sqrt(pi)).
  const double a = 2.0, s = 3.0, dx = 0.25, rms = 0.1;
  std::vector<double> x, y;
  for (double v = -40.0; v <= 40.0; v += dx) {
    x.push_back(v);
    y.push_back(a * std::exp(-0.5 * (v - 1.0) * (v - 1.0) / (s * s)));
  }
  const auto fit = fit_gaussians(x, y, 1, rms);
  ASSERT_TRUE(fit);
  const double root_pi = std::sqrt(std::acos(-1.0));
  EXPECT_NEAR(fit->errors[0].peak, rms * std::sqrt(1.5 * dx / (s * root_pi)), 1e-9);
  EXPECT_NEAR(fit->errors[0].centre, rms * std::sqrt(2.0 * s * dx / (a * a * root_pi)), 1e-9);
  EXPECT_NEAR(fit->errors[0].sigma, rms * std::sqrt(2.0 * s * dx / (a * a * root_pi)), 1e-9);
  EXPECT_FALSE(fit_gaussians(std::vector<double>{1, 2}, std::vector<double>{1, 2}, 1, rms));
}

SpectrumTable table_of(const std::string& name, std::vector<double> values) {
  SpectrumTable table;
  table.name = name;
  table.first_bin = -2;
  table.values = std::move(values);
  return table;
}

TEST(SpeccalLine, KelvinScalesRecoverTheReceiverAndSystem) {
  // Powers G (T_rx + T) of a receiver whose gain and temperature change across the bins.
  const std::vector<double> gain{1.0, 2.0, 0.5, 3.0}, t_rx{40.0, 55.0, 70.0, 100.0};
  std::vector<double> hot, cold, diode;
  for (std::size_t i = 0; i < gain.size(); ++i) {
    hot.push_back(gain[i] * (t_rx[i] + 290.0));
    cold.push_back(gain[i] * (t_rx[i] + 15.0));
    diode.push_back(gain[i] * (t_rx[i] + 15.0 + 4.0));
  }
  const KelvinScale y = y_factor_scale(table_of("h", hot), table_of("c", cold), 290.0, 15.0);
  const KelvinScale d = diode_scale(table_of("d", diode), table_of("c", cold), 4.0);
  ASSERT_TRUE(y.receiver);
  EXPECT_FALSE(d.receiver);
  for (std::size_t i = 0; i < gain.size(); ++i) {
    EXPECT_NEAR((*y.receiver)[i], t_rx[i], 1e-9) << i;
    EXPECT_NEAR(y.system[i], t_rx[i] + 15.0, 1e-9) << i;
    EXPECT_NEAR(d.system[i], t_rx[i] + 15.0, 1e-9) << i;
  }
}

TEST(SpeccalLine, KelvinScalesRefuseReferencesThatCannotGiveThem) {
  // Each refusal names the option of the table at fault.
  const auto y = [](std::vector<double> hot, std::vector<double> cold) {
    return [=] { y_factor_scale(table_of("h", hot), table_of("c", cold), 290.0, 15.0); };
  };
  const std::pair<std::function<void()>, const char*> cases[] = {
      {y({2, 2, 2}, {1, 1, 1}), ""},
      {y({2, 1, 2}, {1, 1, 1}), "option --hot: h's bin -1 (1) is not above"},
      {y({2, 2, 2}, {1, 0, 1}), "option --cold: c's bin -1 is 0"},
      {y({2, -2, 2}, {1, 1, 1}), "option --hot: h's bin -1 is -2"},
      {y({2, 2}, {1, 1, 1}), "option --cold: the tables differ in length"},
      {[] {
         diode_scale(table_of("d", {2, 1}), table_of("c", {1, 1}), 3.0);
       },
       "option --diode: d's bin -1 (1)"},
      {[] {
         diode_scale(table_of("d", {2, 2}), table_of("c", {1, 0}), 3.0);
       },
       "option --diode: d's bin -1 (2)"},
  };
  for (const auto& [call, text] : cases) {
    if (*text == '\0') {
      EXPECT_NO_THROW(call());
      continue;
    }
    try {
      call();
      ADD_FAILURE() << text;
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
  }
}

// The value of a report line "name=value".
double reported(const std::string& out, const std::string& name) {
  const auto at = out.find("\n" + name + "=");
  if (at == std::string::npos) return std::nan("");
  return std::stod(out.substr(at + name.size() + 2));
}

TEST_F(SpeccalTest, ReportsTheLineInKelvinOnTheVelocityAxis) {
  // A 5 K Gaussian of sigma 6 bins at bin 20 over 60 K of system temperature, a spike of
  // interference in the window, noise of a fixed seed; 256 bins of 2.4 MHz about 1420 MHz.
  const double rate = 2.4e6, centre = 1420.0e6, rest = 1420.405751768e6, c = 299792.458;
  const auto gain = [](int bin) { return 1.0 + 0.3 * std::cos(bin / 40.0); };
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<double> sky(256);
  for (int bin = -128; bin < 128; ++bin) {
    sky[bin + 128] = 5.0 * std::exp(-0.5 * (bin - 20) * (bin - 20) / 36.0) + noise(random) + (bin == 25 ? 40 : 0);
  }
  write_spectrum(off, -128, 256, [&](int bin) { return gain(bin) * 60.0; });
  write_spectrum(on, -128, 256, [&](int bin) { return gain(bin) * (60.0 + sky[bin + 128]); });
  const std::string hot = dir.path("hot.txt");
  write_spectrum(hot, -128, 256, [&](int bin) { return gain(bin) * 340.0; });
  const std::vector<std::string> common{"--hot", hot,      "--cold", off,        "--t-hot", "290",      "--t-cold",
                                        "10",    "-b",     "1",      "-l",       "0:40",    "--report", "--flag",
                                        "8",     "--rate", "2.4",    "--centre", "1420"};
  const auto result = run(common);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\nT_sys=60.00 K (median over 256 bins)\nT_rx=50.00 K"), std::string::npos);
  EXPECT_EQ(test::read_lines(cal).at(4), "# flagged: 25");
  const double channel = c * rate / 256.0 / rest;
  EXPECT_NEAR(reported(result.out, "channel_kms"), channel, 1e-6);
  EXPECT_NEAR(reported(result.out, "peak_1"), 5.0, 4.0 * reported(result.out, "peak_1_err"));
  const double centroid = c * (rest - (centre + 20.0 * rate / 256.0)) / rest;
  EXPECT_NEAR(reported(result.out, "centroid_1_kms"), centroid, 4.0 * reported(result.out, "centroid_1_err_kms"));
  EXPECT_NEAR(reported(result.out, "fwhm_1_kms"), 2.3548200450309493 * 6.0 * channel,
              4.0 * reported(result.out, "fwhm_1_err_kms"));
  // The window's integral, the spike's bin taking the fit's value: a s sqrt(2 pi) channels.
  const double integral = reported(result.out, "integral_kms");
  const double integral_err = reported(result.out, "integral_err_kms");
  EXPECT_NEAR(integral, 5.0 * 6.0 * std::sqrt(2.0 * std::acos(-1.0)) * channel, 4.0 * integral_err);
  EXPECT_NEAR(integral_err, reported(result.out, "baseline_rms") * channel * std::sqrt(41.0), 1e-5 * integral_err);
  EXPECT_NEAR(reported(result.out, "column_density_cm2"), 1.823e18 * integral, 1e-4 * 1.823e18 * integral);
  EXPECT_NEAR(reported(result.out, "column_density_err_cm2"), 1.823e18 * integral_err,
              1e-4 * 1.823e18 * integral_err);
  EXPECT_NEAR(column_density_cm2(100.0), 1.823e20, 1e6);
  // In another frame every velocity moves by the correction iqvelocity prints.
  const std::vector<std::string> place{"--site", "52,5,10", "--galactic", "120,0", "--start", "2026-01-01T00:00"};
  const test::RunResult velocity = run_tool(run_iqvelocity, place);
  ASSERT_EQ(velocity.status, 0) << velocity.err;
  const double lsrk = reported("\n" + velocity.out, "lsrk_kms");
  const double bary = reported("\n" + velocity.out, "barycentric_kms");
  for (const auto& [frame, correction] : {std::pair{"lsrk", lsrk}, std::pair{"bary", bary}}) {
    std::vector<std::string> options = common;
    options.insert(options.end(), {"--frame", frame});
    options.insert(options.end(), place.begin(), place.end());
    const auto moved = run(options);
    ASSERT_EQ(moved.status, 0) << moved.err;
    EXPECT_NE(moved.out.find(cformat("\nframe=%s\nvelocity_correction_kms=%.4f\n", frame, correction)),
              std::string::npos)
        << moved.out;
    EXPECT_NEAR(reported(moved.out, "centroid_1_kms") - reported(result.out, "centroid_1_kms"), correction, 1e-3);
  }
}

}  // namespace
}  // namespace iq
