// SPDX-License-Identifier: MIT
// gnuplot scripts for the toolkit's tables. Every script plots the table file itself, maps its
// first column to the axis the settings allow (bins, MHz, seconds, phase) and writes the
// picture to standard output, so the caller decides where and how it is stored.
#include "plot_script.hpp"

#include <algorithm>
#include <cmath>

#include "io/text_format.hpp"
#include "search_plot.hpp"
#include "spectral_axis.hpp"
#include "waterfall_plot.hpp"

namespace iq {

namespace {

std::string number(double value) { return script_number(value); }

// Complex samples that powtrace and modspec sum into one video point: the ratio of the sample
// rate to the video band, in single precision and cut to a whole number, as the tools take it.
double samples_per_video_point(double rate_mhz, double video_band_khz) {
  return std::trunc(static_cast<float>(rate_mhz * 1000.0 / video_band_khz));
}

Axis x_axis(const PlotSettings& s) {
  const bool video = s.rate_mhz && s.video_band_khz && *s.video_band_khz > 0.0 &&
                     samples_per_video_point(*s.rate_mhz, *s.video_band_khz) >= 1.0;
  switch (s.kind) {
    case TableKind::kSpectrum:
      return spectral_axis(s, s.rows);
    case TableKind::kCalibrated:  // speccal's header may give the points of a wider spectrum
      return spectral_axis(s, s.points > 0 ? s.points : s.rows);
    case TableKind::kWaterfall:
      return spectral_axis(s, s.points);
    case TableKind::kPowerTrace: {
      if (!video) return {"$1", "Video point"};
      const double seconds = samples_per_video_point(*s.rate_mhz, *s.video_band_khz) / (*s.rate_mhz * 1e6);
      return {"$1 * " + number(seconds), "Time (s)", seconds};
    }
    case TableKind::kModulation: {
      if (!video) return {"$1", "Modulation frequency bin"};
      const double hz = *s.rate_mhz * 1e6 / samples_per_video_point(*s.rate_mhz, *s.video_band_khz) /
                        (2.0 * static_cast<double>(s.rows));
      return {"$1 * " + number(hz), "Modulation frequency (Hz)", hz};
    }
    case TableKind::kProfile: {
      // Bin k covers the phases k/N to (k+1)/N: its step is drawn about its middle.
      const double bins = static_cast<double>(s.rows);
      return {"($1 + 0.5) / " + number(bins), "Pulse phase", 1.0 / bins, 0.5 / bins};
    }
    case TableKind::kCorrelation:
      if (!s.rate_mhz) return {"$1", "Lag (complex samples)"};
      return {"$1 / " + number(*s.rate_mhz), "Lag (µs)", 1.0 / *s.rate_mhz};
    case TableKind::kLevels:
      return {"$1", "Byte value − 128"};
    case TableKind::kSearch:
      return {"$1", s.dm_trials ? "Dispersion measure (pc cm⁻³)" : "Trial period (ms)"};
    case TableKind::kDump:
      if (!s.rate_mhz) return {"$1", "Sample number"};
      return {"$1 / " + number(*s.rate_mhz * 1e3), "Time (ms)", 1.0 / (*s.rate_mhz * 1e3)};
  }
  return {"$1", ""};
}

// Short enough to stay within its panel: a profile's panels are half the picture high.
std::string profile_label(std::optional<FoldedQuantity> folded) {
  if (!folded) return "Mean per sample";
  return *folded == FoldedQuantity::kAmplitude ? "Mean amplitude per sample" : "Mean power per sample";
}

}  // namespace

std::vector<std::pair<std::int64_t, std::int64_t>> runs_of(const std::vector<std::int64_t>& numbers) {
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  for (const std::int64_t n : numbers) {
    if (!runs.empty() && runs.back().second + 1 == n) {
      runs.back().second = n;
    } else {
      runs.emplace_back(n, n);
    }
  }
  return runs;
}

std::string gnuplot_quoted(const std::string& text) {
  std::string quoted;
  for (const char c : text) {
    if (c == '\'') quoted += '\'';
    if (c != '\n') quoted += c;
  }
  return quoted;
}

namespace {

// The terminal, title, grid, line styles and range that every picture shares.
std::string script_preamble(const PlotSettings& s) {
  std::string script = "set encoding utf8\n";
  if (s.format == PictureFormat::kPng) {
    script += cformat("set terminal pngcairo size %d,%d noenhanced font 'sans,10' background rgb 'white'\n",
                      s.width, s.height);
  } else {
    script += cformat("set terminal svg size %d,%d dynamic noenhanced font 'sans,10' background rgb 'white'\n",
                      s.width, s.height);
  }
  script +=
      "set title '" + gnuplot_quoted(picture_title(s)) + "'\nset grid\nset key top right\nset autoscale xfix\n";
  script += "set style line 1 lw 1.2 lc rgb '#1f5fa8'\nset style line 2 lw 1.2 lc rgb '#c0392b'\n";
  if (s.x_range) {
    script += "set xrange [" + number(s.x_range->first) + ":" + number(s.x_range->second) + "]\n";
  }
  return script;
}

// A profile: the mean above the count, in two panels of the same margins, so that phase 0 and
// 1 fall at the same place in each; every bin a step from its start to its end.
std::string profile_commands(const PlotSettings& s, const std::string& data, const Axis& x) {
  std::string script = s.x_range ? "" : "set xrange [0:1]\n";
  script += "set lmargin 12\nset rmargin 4\n";
  script += "set multiplot layout 2,1 title '" + gnuplot_quoted(s.title) + "'\nunset title\n";
  script += axis_labels(x.label, profile_label(s.folded));
  script += "plot " + data + ":2 with histeps ls 1 notitle\n";
  // The counts differ by a sample or so between bins: drawn from zero they show as the
  // flat line they are, not as cliffs of a fraction of a percent.
  script += axis_labels(x.label, "Samples in bin");
  script += "set yrange [0:*]\n";
  return script + "plot " + data + ":3 with histeps ls 2 notitle\nunset multiplot\n";
}

// A calibrated spectrum's flagged bins as a band along the bottom of the plot, one stretch
// per run of neighbouring bins, each bin as wide as its channel.
std::string flagged_band(const std::vector<std::int64_t>& flagged, const Axis& x) {
  std::string script;
  for (const auto& [first, last] : runs_of(flagged)) {
    const double a = x.at(static_cast<double>(first) - 0.5);
    const double b = x.at(static_cast<double>(last) + 0.5);
    script += "set object rectangle from first " + number(std::min(a, b)) + ", graph 0 to first " +
              number(std::max(a, b)) +
              ", graph 0.04 fillstyle transparent solid 0.6 noborder fillcolor rgb '#e67e22'\n";
  }
  return script;
}

// A calibrated spectrum's baseline is 0: the zero line shows how flat it is. Its values are
// antenna temperatures when its header says kelvin; flagged bins are marked beneath it.
std::string calibrated_commands(const PlotSettings& s, const std::string& data, const Axis& x) {
  std::string script = axis_labels(x.label, s.kelvin ? "Antenna temperature (K)" : "(on − off) / off");
  script += flagged_band(s.flagged, x);
  script += "plot " + data + ":2 with lines ls 1 notitle, 0 with lines lw 1 lc rgb '#555555' dt 2 notitle";
  if (!s.flagged.empty()) {
    script += cformat(", NaN with lines lw 6 lc rgb '#e67e22' title 'flagged (%zu bins)'", s.flagged.size());
  }
  return script + "\n";
}

// The plot commands of the table's kind; `data` names the table and its x column.
std::string kind_commands(const PlotSettings& s, const std::string& data, const Axis& x) {
  std::string script;
  switch (s.kind) {
    case TableKind::kSpectrum:
      if (s.decibels) {
        // Bins of no power (log of 0) are left out rather than drawn at minus infinity.
        script += axis_labels(x.label, "Mean power per frame (dB)");
        script += "plot " + data + ":($2 > 0 ? 10 * log10($2) : NaN) with lines ls 1 notitle\n";
      } else {
        script += axis_labels(x.label, "Mean power per frame");
        script += "plot " + data + ":2 with lines ls 1 notitle\n";
      }
      break;
    case TableKind::kPowerTrace:
      script += axis_labels(x.label, "Detected power");
      script += "plot " + data + ":2 with lines ls 1 notitle\n";
      break;
    case TableKind::kModulation:
      script += axis_labels(x.label, "Summed magnitude (scaled)");
      script +=
          "set logscale y\nplot " + data + ":($2 > 0 ? $2 : NaN) with linespoints ls 1 pt 7 ps 0.5 notitle\n";
      break;
    case TableKind::kProfile:
      script += profile_commands(s, data, x);
      break;
    case TableKind::kCorrelation:
      script += axis_labels(x.label, "Normalised lag product");
      script +=
          "plot " + data + ":2 with lines ls 1 title '1 on 2', " + data + ":3 with lines ls 2 title '2 on 1'\n";
      break;
    case TableKind::kLevels:
      script += axis_labels(x.label, "Mean count per 512 bytes");
      script += "set style fill solid 0.6 noborder\nset boxwidth 1\n";
      script += "plot " + data + ":2 with boxes ls 1 notitle\n";
      break;
    case TableKind::kSearch:
      script += search_plot_commands(s, data, x.label);
      break;
    case TableKind::kCalibrated:
      script += calibrated_commands(s, data, x);
      break;
    case TableKind::kWaterfall:
      script += waterfall_plot_commands(s);
      break;
    case TableKind::kDump:
      script += axis_labels(x.label, "Normalised value");
      script += "plot " + data + ":2 with lines ls 1 title 'I', " + data + ":3 with lines ls 2 title 'Q'\n";
      break;
  }
  return script;
}

}  // namespace

std::string axis_labels(const std::string& x, const std::string& y) {
  return "set xlabel '" + gnuplot_quoted(x) + "'\nset ylabel '" + gnuplot_quoted(y) + "'\n";
}

std::string x_axis_label(const PlotSettings& s) { return x_axis(s).label; }

std::pair<double, double> x_data_span(const PlotSettings& s) {
  if (s.kind == TableKind::kProfile) return {0.0, 1.0};
  const Axis x = x_axis(s);
  const auto [first, last] =
      s.kind == TableKind::kWaterfall
          ? std::pair(-static_cast<double>(s.points / 2), static_cast<double>(s.points - 1 - s.points / 2))
          : s.keys;
  const double a = x.at(first), b = x.at(last);
  return {std::min(a, b), std::max(a, b)};
}

std::string tick_commands(char axis, double low, double high, int pixels) {
  const double range = high - low;
  if (!(range > 0.0) || !std::isfinite(range)) return "";
  // The step gnuplot itself would take (4 to 10 ticks), as m·10^k with m 1, 2 or 5.
  int power = static_cast<int>(std::floor(std::log10(range)));
  const double fraction = range / std::pow(10.0, power);
  int mantissa = fraction < 2.0 ? 2 : fraction < 5.0 ? 5 : 1;
  if (mantissa != 1) --power;
  const auto step = [&] { return mantissa * std::pow(10.0, power); };
  const auto label_chars = [&] {
    const int decimals = std::max(0, -power);
    return std::max(cformat("%.*f", decimals, low).size(), cformat("%.*f", decimals, high).size());
  };
  // Longer labels need more room: the next larger step until they fit side by side.
  while (range / step() * static_cast<double>(label_chars() + 2) * kLabelCharPixels > pixels) {
    if (mantissa == 5) ++power;
    mantissa = mantissa == 1 ? 2 : mantissa == 2 ? 5 : 1;
  }
  return cformat("set %ctics %s\nset format %c '%%.%df'\n", axis, number(step()).c_str(), axis,
                 std::min(std::max(0, -power), 15));
}

std::string plot_script(const PlotSettings& s) {
  const Axis x = x_axis(s);
  std::string data = "'";
  data += gnuplot_quoted(s.table);
  data += "' using (" + x.expression + ")";
  std::string ticks;
  if (s.kind != TableKind::kProfile) {
    const auto [low, high] = s.x_range.value_or(x_data_span(s));
    // The plot's own width: the picture's less its margins and (for a waterfall) colour bar.
    ticks = tick_commands('x', low, high, s.width * 3 / 4 - 60);
  }
  return script_preamble(s) + ticks + kind_commands(s, data, x);
}

}  // namespace iq
