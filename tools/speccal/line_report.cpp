// SPDX-License-Identifier: MIT
// The line report: the window's unflagged bins on the velocity axis, their Gaussian fit, the
// integral over the window (flagged bins taking the fit's value) and its column density.
#include "line_report.hpp"

#include <cmath>

#include "gauss_fit.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr double kSpeedOfLightKms = 299792.458;
// N_H per K km/s of an optically thin HI line, cm^-2.
constexpr double kColumnPerKelvinKms = 1.823e18;
// FWHM / sigma of a Gaussian, 2 sqrt(2 ln 2).
constexpr double kFwhmPerSigma = 2.3548200450309493;

struct WindowPoints {
  std::vector<double> velocity;
  std::vector<double> value;
  std::vector<double> flagged_velocity;  // the window's flagged bins
};

WindowPoints window_points(const LineReportInput& in) {
  WindowPoints points;
  for (std::size_t i = 0; i < in.spectrum.values.size(); ++i) {
    const std::int64_t bin = in.spectrum.bin(i);
    if (bin < in.window.from || bin > in.window.to) continue;
    const double v = in.axis.at(bin);
    if (in.flagged[i]) {
      points.flagged_velocity.push_back(v);
    } else {
      points.velocity.push_back(v);
      points.value.push_back(in.spectrum.values[i]);
    }
  }
  return points;
}

std::string component_lines(const GaussianFit& fit) {
  std::string text;
  for (std::size_t k = 0; k < fit.components.size(); ++k) {
    const Gaussian& g = fit.components[k];
    const Gaussian& e = fit.errors[k];
    const auto n = static_cast<int>(k + 1);
    text += cformat("peak_%d=%.6g\npeak_%d_err=%.6g\n", n, g.peak, n, e.peak);
    text += cformat("centroid_%d_kms=%.4f\ncentroid_%d_err_kms=%.4f\n", n, g.centre, n, e.centre);
    text += cformat("fwhm_%d_kms=%.4f\nfwhm_%d_err_kms=%.4f\n", n, kFwhmPerSigma * g.sigma, n,
                    kFwhmPerSigma * e.sigma);
  }
  return text;
}

}  // namespace

double VelocityAxis::at(std::int64_t bin) const {
  const double frequency = centre_hz + static_cast<double>(bin) * bin_hz;
  return kSpeedOfLightKms * (rest_hz - frequency) / rest_hz + correction_kms;
}

double VelocityAxis::channel_kms() const { return kSpeedOfLightKms * bin_hz / rest_hz; }

double column_density_cm2(double integral_k_kms) { return kColumnPerKelvinKms * integral_k_kms; }

std::string line_report(const LineReportInput& in) {
  const WindowPoints points = window_points(in);
  const auto fit = fit_gaussians(points.velocity, points.value, in.components, in.rms);
  if (!fit) {
    throw ToolError(
        cformat("the fit of %d Gaussian component%s to the %zu unflagged bins of the line window "
                "failed: too few bins, or no convergence",
                in.components, in.components == 1 ? "" : "s", points.velocity.size()));
  }
  const double channel = in.axis.channel_kms();
  double sum = 0.0;
  for (const double value : points.value) sum += value;
  for (const double v : points.flagged_velocity) sum += gaussian_sum(fit->components, v);
  const double integral = sum * channel;
  const double bins = static_cast<double>(points.value.size() + points.flagged_velocity.size());
  const double integral_err = in.rms * channel * std::sqrt(bins);
  std::string text = cformat("line_units=%s\nframe=%s\nvelocity_correction_kms=%.4f\nrest_frequency_mhz=%.9f\n",
                             in.kelvin ? "K" : "ratio", std::string(frame_word(in.axis.frame)).c_str(),
                             in.axis.correction_kms, in.axis.rest_hz / 1e6);
  text += cformat("channel_kms=%.6f\nfitted_bins=%zu\nbaseline_rms=%.6g\n", channel, points.value.size(), in.rms);
  text += component_lines(*fit);
  text += cformat("integral_kms=%.6g\nintegral_err_kms=%.6g\n", integral, integral_err);
  if (in.kelvin) {
    text += cformat("column_density_cm2=%.4e\ncolumn_density_err_cm2=%.4e\n", column_density_cm2(integral),
                    column_density_cm2(integral_err));
  }
  return text;
}

}  // namespace iq
