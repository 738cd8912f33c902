// The gnuplot script that draws one table: axes, labels and the picture format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "table_kind.hpp"

namespace iq {

enum class PictureFormat { kPng, kSvg };

enum class FoldedQuantity { kAmplitude, kPower };

struct PlotSettings {
  TableKind kind = TableKind::kSpectrum;
  PictureFormat format = PictureFormat::kPng;
  std::string table;      // path of the table gnuplot reads
  std::int64_t rows = 0;  // the table's row count (a spectrum's bins, a profile's bins)
  std::string title;
  std::optional<double> rate_mhz;           // complex sample rate of the capture
  std::optional<double> centre_mhz;         // frequency the receiver was tuned to
  std::optional<double> video_band_khz;     // video band given to powtrace / modspec
  std::optional<double> velocity_rest_mhz;  // a velocity axis about this rest frequency
  // A waterfall: `rows` complete rows of `points` bins, each the mean of frames_per_row frames,
  // the first starting at start_utc ("YYYY-MM-DDTHH:MM:SS[.f]Z") when that is known.
  std::int64_t points = 0;
  std::int64_t frames_per_row = 0;
  std::optional<std::string> start_utc;
  bool linear = false;                               // a waterfall's colours in mean power instead of dB
  std::optional<std::pair<double, double>> x_range;  // the horizontal axis's span, in its units
  // What a profile's tool folded: amplitude (cyclefold) or power (cyclestack, cyclebin);
  // nothing when not told.
  std::optional<FoldedQuantity> folded;
  bool decibels = false;  // a spectrum's power in dB
  int width = 900;
  int height = 540;
};

// Text inside a single-quoted gnuplot string ('' stands for one quote).
std::string gnuplot_quoted(const std::string& text);

// The script; it writes the picture to gnuplot's standard output.
std::string plot_script(const PlotSettings& settings);

}  // namespace iq
