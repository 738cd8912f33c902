// The gnuplot script that draws one table: axes, labels and the picture format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "table_kind.hpp"

namespace iq {

enum class PictureFormat { kPng, kSvg };

enum class FoldedQuantity { kAmplitude, kPower };

struct PlotSettings {
  TableKind kind = TableKind::kSpectrum;
  PictureFormat format = PictureFormat::kPng;
  std::string table;       // path of the table gnuplot reads
  std::int64_t rows = 0;   // the table's row count (a spectrum's bins, a profile's bins)
  std::string title;
  std::optional<double> rate_mhz;       // complex sample rate of the capture
  std::optional<double> centre_mhz;     // frequency the receiver was tuned to
  std::optional<double> video_band_khz; // video band given to powtrace / modspec
  // What a profile's tool folded: amplitude (cyclefold) or power (cyclestack, cyclebin);
  // nothing when not told.
  std::optional<FoldedQuantity> folded;
  bool decibels = false;                // a spectrum's power in dB
  int width = 900;
  int height = 540;
};

// Text inside a single-quoted gnuplot string ('' stands for one quote).
std::string gnuplot_quoted(const std::string& text);

// The script; it writes the picture to gnuplot's standard output.
std::string plot_script(const PlotSettings& settings);

}  // namespace iq
