// gnuplot scripts for the toolkit's tables. Every script plots the table file itself, maps its
// first column to the axis the settings allow (bins, MHz, seconds, phase) and writes the
// picture to standard output, so the caller decides where and how it is stored.
#include "plot_script.hpp"

#include <cmath>

#include "io/text_format.hpp"
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
    case TableKind::kCalibrated:
      return spectral_axis(s, s.rows);
    case TableKind::kWaterfall:
      return spectral_axis(s, s.points);
    case TableKind::kPowerTrace:
      if (!video) return {"$1", "Video point"};
      return {"$1 * " + number(samples_per_video_point(*s.rate_mhz, *s.video_band_khz) / (*s.rate_mhz * 1e6)),
              "Time (s)"};
    case TableKind::kModulation:
      if (!video) return {"$1", "Modulation frequency bin"};
      return {"$1 * " + number(*s.rate_mhz * 1e6 / samples_per_video_point(*s.rate_mhz, *s.video_band_khz) /
                               (2.0 * static_cast<double>(s.rows))),
              "Modulation frequency (Hz)"};
    case TableKind::kProfile:
      return {"$1 / " + number(static_cast<double>(s.rows)), "Pulse phase"};
    case TableKind::kCorrelation:
      if (!s.rate_mhz) return {"$1", "Lag (complex samples)"};
      return {"$1 / " + number(*s.rate_mhz), "Lag (µs)"};
    case TableKind::kLevels:
      return {"$1", "Byte value − 128"};
    case TableKind::kSearch:
      return {"$1", "Trial period (ms)"};
    case TableKind::kDump:
      if (!s.rate_mhz) return {"$1", "Sample number"};
      return {"$1 / " + number(*s.rate_mhz * 1e3), "Time (ms)"};
  }
  return {"$1", ""};
}

std::string profile_label(std::optional<FoldedQuantity> folded) {
  if (!folded) return "Mean amplitude (cyclefold) or power (cyclestack, cyclebin) per sample";
  return *folded == FoldedQuantity::kAmplitude ? "Mean amplitude per sample" : "Mean power per sample";
}

std::string labels(const std::string& x, const std::string& y) {
  return "set xlabel '" + gnuplot_quoted(x) + "'\nset ylabel '" + gnuplot_quoted(y) + "'\n";
}

// A period search: chi-square against trial period, the best trials (the largest chi-square,
// a run of equal trials when they share a profile) marked, with a line at the run's middle.
std::string search_plot(const std::string& table, const std::string& data, const std::string& x_label) {
  std::string file = "'";
  file += gnuplot_quoted(table);
  file += '\'';
  std::string script = labels(x_label, "Chi-square against a flat profile") + "set key bottom right\n";
  script += "stats " + file + " using 1:2 nooutput\nbest_chi2 = STATS_max_y\n";
  script += "stats " + file + " using ($2 == best_chi2 ? $1 : NaN):2 nooutput\n";
  script += "best_ms = (STATS_min_x + STATS_max_x) / 2\n";
  script += "set format x '%.10g'\nset xtics rotate by -30\n";
  script += "set arrow from best_ms, graph 0 to best_ms, graph 1 nohead lc rgb '#c0392b' dt 2\n";
  script +=
      "set label sprintf('best %.10g ms', best_ms) at best_ms, graph 0.95 left offset 1,0 tc rgb '#c0392b'\n";
  script += "plot " + data + ":2 with lines ls 1 notitle, " + data +
            ":($2 == best_chi2 ? $2 : NaN) with points pt 7 ps 1 lc rgb '#c0392b' title 'best'\n";
  return script;
}

}  // namespace

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
  script += "set title '" + gnuplot_quoted(s.title) + "'\nset grid\nset key top right\nset autoscale xfix\n";
  script += "set style line 1 lw 1.2 lc rgb '#1f5fa8'\nset style line 2 lw 1.2 lc rgb '#c0392b'\n";
  if (s.x_range) {
    script += "set xrange [" + number(s.x_range->first) + ":" + number(s.x_range->second) + "]\n";
  }
  return script;
}

// The plot commands of the table's kind; `data` names the table and its x column.
std::string kind_commands(const PlotSettings& s, const std::string& data, const Axis& x) {
  std::string script;
  switch (s.kind) {
    case TableKind::kSpectrum:
      if (s.decibels) {
        // Bins of no power (log of 0) are left out rather than drawn at minus infinity.
        script += labels(x.label, "Mean power per frame (dB)");
        script += "plot " + data + ":($2 > 0 ? 10 * log10($2) : NaN) with lines ls 1 notitle\n";
      } else {
        script += labels(x.label, "Mean power per frame");
        script += "plot " + data + ":2 with lines ls 1 notitle\n";
      }
      break;
    case TableKind::kPowerTrace:
      script += labels(x.label, "Detected power");
      script += "plot " + data + ":2 with lines ls 1 notitle\n";
      break;
    case TableKind::kModulation:
      script += labels(x.label, "Summed magnitude (scaled)");
      script +=
          "set logscale y\nplot " + data + ":($2 > 0 ? $2 : NaN) with linespoints ls 1 pt 7 ps 0.5 notitle\n";
      break;
    case TableKind::kProfile:
      script += "set xrange [0:1]\n";
      script += "set multiplot layout 2,1 title '" + gnuplot_quoted(s.title) + "'\nunset title\n";
      script += labels(x.label, profile_label(s.folded));
      script += "plot " + data + ":2 with histeps ls 1 notitle\n";
      // The counts differ by a sample or so between bins: drawn from zero they show as the
      // flat line they are, not as cliffs of a fraction of a percent.
      script += labels(x.label, "Samples in bin");
      script += "set yrange [0:*]\n";
      script += "plot " + data + ":3 with histeps ls 2 notitle\nunset multiplot\n";
      break;
    case TableKind::kCorrelation:
      script += labels(x.label, "Correlation coefficient");
      script +=
          "plot " + data + ":2 with lines ls 1 title '1 on 2', " + data + ":3 with lines ls 2 title '2 on 1'\n";
      break;
    case TableKind::kLevels:
      script += labels(x.label, "Mean count per 512 bytes");
      script += "set style fill solid 0.6 noborder\nset boxwidth 1\n";
      script += "plot " + data + ":2 with boxes ls 1 notitle\n";
      break;
    case TableKind::kSearch:
      script += search_plot(s.table, data, x.label);
      break;
    case TableKind::kCalibrated:
      // A calibrated spectrum's baseline is 0: the zero line shows how flat it is.
      script += labels(x.label, "(on − off) / off");
      script += "plot " + data + ":2 with lines ls 1 notitle, 0 with lines lw 1 lc rgb '#555555' dt 2 notitle\n";
      break;
    case TableKind::kWaterfall:
      script += waterfall_plot_commands(s);
      break;
    case TableKind::kDump:
      script += labels(x.label, "Normalised value");
      script += "plot " + data + ":2 with lines ls 1 title 'I', " + data + ":3 with lines ls 2 title 'Q'\n";
      break;
  }
  return script;
}

}  // namespace

std::string plot_script(const PlotSettings& s) {
  const Axis x = x_axis(s);
  std::string data = "'";
  data += gnuplot_quoted(s.table);
  data += "' using (" + x.expression + ")";
  return script_preamble(s) + kind_commands(s, data, x);
}

}  // namespace iq
