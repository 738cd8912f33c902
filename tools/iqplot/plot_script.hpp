// SPDX-License-Identifier: MIT
// The gnuplot script that draws one table: axes, labels and the picture format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "io/capture_metadata.hpp"
#include "table_kind.hpp"

namespace iq {

enum class PictureFormat { kPng, kSvg };

enum class FoldedQuantity { kAmplitude, kPower };

// What cyclesearch's table header says of its search: the best trial as the console names it,
// the chi-square the detection threshold stands for, and the verdict.
struct SearchVerdict {
  double best_period_ms = 0.0;
  double best_chi2 = 0.0;
  double significance_sigma = 0.0;
  double threshold_sigma = 0.0;
  std::optional<double> threshold_chi2;  // none when no chi-square reaches the threshold
  bool detected = false;
  std::optional<double> best_dm;  // a search over dispersion measures: the DM of the best trial
};

struct PlotSettings {
  TableKind kind = TableKind::kSpectrum;
  PictureFormat format = PictureFormat::kPng;
  std::string table;                         // path of the table gnuplot reads
  std::int64_t rows = 0;                     // the table's row count (a spectrum's bins, a profile's bins)
  std::pair<double, double> keys{0.0, 0.0};  // the smallest and largest value of column 1
  std::string title;
  std::optional<double> rate_mhz;              // complex sample rate of the capture
  std::optional<double> centre_mhz;            // frequency the receiver was tuned to
  std::optional<double> video_band_khz;        // video band given to powtrace / modspec
  std::optional<double> velocity_rest_mhz;     // a velocity axis about this rest frequency
  std::string velocity_frame = "Topocentric";  // the frame the axis names
  double velocity_correction_kms = 0.0;        // added to the topocentric velocity for that frame
  // A waterfall: `rows` complete rows of `points` bins, each the mean of frames_per_row frames,
  // (a calibrated table: its bins are rate / points wide when its header gives points),
  // the first starting at start_utc ("YYYY-MM-DDTHH:MM:SS[.f]Z") when that is known.
  std::int64_t points = 0;
  std::int64_t frames_per_row = 0;
  std::optional<std::string> start_utc;
  std::optional<Geolocation> site;                   // the observer's, from a waterfall's header
  std::vector<std::int64_t> flagged_rows;            // a waterfall's rows flagged as interference
  bool linear = false;                               // a waterfall's colours in mean power instead of dB
  std::optional<std::pair<double, double>> x_range;  // the horizontal axis's span, in its units
  // What a profile's tool folded: amplitude (cyclefold) or power (cyclestack, cyclebin);
  // nothing when not told.
  std::optional<FoldedQuantity> folded;
  bool decibels = false;                // a spectrum's power in dB
  std::optional<SearchVerdict> search;  // a search table's header, when it has one
  bool dm_trials = false;               // a search table whose first column is the trial's DM
  // A calibrated table's header: values in kelvin, and the bins it flags as interference.
  bool kelvin = false;
  std::vector<std::int64_t> flagged;
  int width = 900;
  int height = 540;
};

// The runs of consecutive numbers in an ascending list, each as its first and last: flagged
// bins or rows drawn as one stretch each.
std::vector<std::pair<std::int64_t, std::int64_t>> runs_of(const std::vector<std::int64_t>& numbers);

// Text inside a single-quoted gnuplot string ('' stands for one quote).
std::string gnuplot_quoted(const std::string& text);

// "set xlabel" and "set ylabel" for these labels.
std::string axis_labels(const std::string& x, const std::string& y);

// The script; it writes the picture to gnuplot's standard output.
std::string plot_script(const PlotSettings& settings);

// The span of the horizontal axis the table's data covers, in the axis's units, low to high,
// and the axis's label.
std::pair<double, double> x_data_span(const PlotSettings& settings);
std::string x_axis_label(const PlotSettings& settings);

// The width of a tick label's character in pixels, about, in the pictures' font.
inline constexpr double kLabelCharPixels = 7.0;

// Ticks every `step` of a nice size (1, 2 or 5 times a power of ten) for an axis from `low`
// to `high`, 4 to 10 of them as gnuplot would place them, fewer when their labels would not fit
// side by side in `pixels`; labelled with as many decimals as the step needs: "set Ntics step"
// and "set format N '%.Df'" for axis letter N. Nothing for an empty span.
std::string tick_commands(char axis, double low, double high, int pixels);

}  // namespace iq
