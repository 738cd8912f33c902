// SPDX-License-Identifier: MIT
// Waterfall tables drawn as heat maps.
#include "waterfall_plot.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "io/text_format.hpp"
#include "io/header_fields.hpp"
#include "io/tool_error.hpp"
#include "spectral_axis.hpp"

namespace iq {

namespace {

constexpr std::int64_t kMaxPoints = 131072;

void read_header(const std::string& line, const std::string& name, WaterfallShape& shape) {
  const auto bad = [&](const std::string& why) {
    return ToolError(name + " is not a waterfall table: its first line " + why);
  };
  if (!is_waterfall_header(line)) throw bad("does not start with '# iqwaterfall'");
  const std::vector<std::string> fields = fields_of(line.substr(kWaterfallMark.size()));
  for (const std::string& field : fields) {
    const auto equals = field.find('=');
    const std::string key = field.substr(0, equals);
    const std::string text = equals == std::string::npos ? "" : field.substr(equals + 1);
    std::int64_t whole = 0;
    double number = 0.0;
    if (key == "points") {
      if (!whole_field(text, whole) || whole < 1 || whole > kMaxPoints) throw bad("has points=" + text);
      shape.points = static_cast<std::int32_t>(whole);
    } else if (key == "frames_per_row") {
      if (!whole_field(text, whole) || whole < 1) throw bad("has frames_per_row=" + text);
      shape.frames_per_row = whole;
    } else if (key == "sample_rate_hz") {
      if (!number_field(text, number) || !(number > 0.0)) throw bad("has sample_rate_hz=" + text);
      shape.header.sample_rate_hz = number;
    } else if (key == "centre_frequency_hz") {
      if (!number_field(text, number)) throw bad("has centre_frequency_hz=" + text);
      shape.header.centre_frequency_hz = number;
    } else if (key == "start_utc") {
      if (!utc_datetime_seconds(text)) throw bad("has start_utc=" + text);
      shape.header.datetime_utc = text;
    } else if (key == "site") {
      if (!take_observation_fields({field}, shape.header).empty()) throw bad("has site=" + text);
    }
    // Other keys are left for newer writers.
  }
  if (shape.points == 0 || shape.frames_per_row == 0) throw bad("lacks points= or frames_per_row=");
}

// The row of a "# flagged row R: ..." line; other comment lines are passed over.
void take_flagged_row(const std::string& line, std::vector<std::int64_t>& flagged) {
  if (!line.starts_with(kFlaggedRowPrefix)) return;
  const std::size_t colon = line.find(':', kFlaggedRowPrefix.size());
  std::int64_t row = 0;
  if (colon != std::string::npos &&
      whole_field(line.substr(kFlaggedRowPrefix.size(), colon - kFlaggedRowPrefix.size()), row) && row >= 0) {
    flagged.push_back(row);
  }
}

}  // namespace

bool is_waterfall_header(std::string_view first_line) {
  return first_line.substr(0, kWaterfallMark.size()) == kWaterfallMark &&
         (first_line.size() == kWaterfallMark.size() || first_line[kWaterfallMark.size()] == ' ');
}

WaterfallShape scan_waterfall(TableReader& table, const std::string& name) {
  WaterfallShape shape;
  std::string line;
  if (!table.next_line(line)) throw ToolError(name + " is not a waterfall table: it is empty");
  read_header(line, name, shape);
  std::int64_t in_row = 0;
  while (table.next_line(line)) {
    const auto bad = [&](const std::string& why) {
      return ToolError(name + " is not a waterfall table: line " + std::to_string(table.line_number()) + " " +
                       why);
    };
    if (!line.empty() && line[0] == '#') {
      take_flagged_row(line, shape.flagged_rows);
      continue;
    }
    if (line.find_first_not_of(" \t") == std::string::npos) {
      if (in_row == 0) continue;
      if (in_row != shape.points) {
        throw bad("ends a row of " + std::to_string(in_row) + " bins, not " + std::to_string(shape.points));
      }
      ++shape.rows;
      in_row = 0;
      continue;
    }
    const std::vector<std::string> fields = fields_of(line);
    std::int64_t bin = 0;
    double value = 0.0;
    if (fields.size() != 2 || !whole_field(fields[0], bin) || !number_field(fields[1], value)) {
      throw bad("is not a bin number and a value");
    }
    if (in_row == shape.points) throw bad("runs on past the row's " + std::to_string(shape.points) + " bins");
    if (bin != in_row - shape.points / 2) {
      throw bad("holds bin " + fields[0] + " where bin " + std::to_string(in_row - shape.points / 2) + " belongs");
    }
    ++in_row;
  }
  return shape;
}

namespace {

// A tick step of a UTC axis spanning `span` seconds: the smallest of the usual steps of a clock
// that gives at most ten intervals.
double utc_tick_step(double span) {
  static constexpr double kSteps[] = {0.001, 0.002, 0.005, 0.01,  0.02,  0.05,  0.1,   0.2,    0.5,   1,
                                      2,     5,     10,    15,    30,    60,    120,   300,    600,   900,
                                      1800,  3600,  7200,  10800, 21600, 43200, 86400, 172800, 604800};
  for (const double step : kSteps) {
    if (span / step <= 10.0) return step;
  }
  return 2419200.0;
}

// Ticks of a UTC axis from `start` over `span` seconds: a step from utc_tick_step, labelled to
// its precision (whole minutes, seconds or their decimals; the day as well for a span of a day
// or more). gnuplot cuts fractional seconds rather than rounding them, and a tick at a multiple
// of 0.1 s lands a hair early: every tick is placed a microsecond late instead, far below a
// pixel, so that 01:30:01.0 does not read 01:30:00.9.
std::string utc_tick_commands(double start, double span) {
  const double step = utc_tick_step(span);
  std::string format = "%H:%M:%S";
  if (span >= 86400.0) {
    format = "%d %H:%M";
  } else if (step >= 60.0) {
    format = "%H:%M";
  } else if (step < 1.0) {
    int decimals = 1;
    while (decimals < 3 &&
           std::fabs(step * std::pow(10.0, decimals) - std::round(step * std::pow(10.0, decimals))) > 1e-9) {
      ++decimals;
    }
    format = cformat("%%H:%%M:%%.%dS", decimals);
  }
  const double first = std::floor(start / step) * step + 1e-6;
  return cformat("set ytics %.17g, %s\nset format y '%s'\n", first, script_number(step).c_str(), format.c_str());
}

// The vertical axis: row r (column(-1)) at offset + scale * r, its pixel centred there. In
// UTC from the start when it is known, in seconds or minutes from the start with the rate, in
// rows without; `commands` the time axis's settings.
Axis time_axis(const PlotSettings& s, std::string& commands) {
  Axis y{"column(-1)", cformat("Row (of %lld frames)", static_cast<long long>(s.frames_per_row))};
  if (!s.rate_mhz) return y;
  // Row r holds frames r·M .. r·M + M − 1; its pixel is drawn at its middle.
  const double row_seconds =
      static_cast<double>(s.frames_per_row) * static_cast<double>(s.points) / (*s.rate_mhz * 1e6);
  const double span = row_seconds * static_cast<double>(s.rows);
  const std::optional<double> start = s.start_utc ? utc_datetime_seconds(*s.start_utc) : std::nullopt;
  if (start) {
    commands += "set ydata time\nset timefmt '%s'\n" + utc_tick_commands(*start, span);
    return {script_number(*start) + " + (column(-1) + 0.5) * " + script_number(row_seconds),
            "Time (UTC), from " + *s.start_utc, row_seconds, *start + 0.5 * row_seconds};
  }
  if (span > 600.0) {
    return {"(column(-1) + 0.5) * " + script_number(row_seconds / 60.0), "Time from the start (min)",
            row_seconds / 60.0, 0.5 * row_seconds / 60.0};
  }
  return {"(column(-1) + 0.5) * " + script_number(row_seconds), "Time from the start (s)", row_seconds,
          0.5 * row_seconds};
}

// The flagged rows as a band down the left edge of the picture, one stretch per run of
// neighbouring rows, each row as high as its pixels.
std::string flagged_rows_band(const std::vector<std::int64_t>& rows, const Axis& y) {
  std::string commands;
  for (const auto& [first, last] : runs_of(rows)) {
    commands += "set object rectangle from graph 0, first " +
                script_number(y.at(static_cast<double>(first) - 0.5)) + " to graph 0.02, first " +
                script_number(y.at(static_cast<double>(last) + 0.5)) +
                " front fillstyle solid 1.0 noborder fillcolor rgb '#e67e22'\n";
  }
  return commands;
}

}  // namespace

std::string waterfall_plot_commands(const PlotSettings& s) {
  const Axis x = spectral_axis(s, s.points);
  const std::string colour = s.linear ? "2" : "($2 > 0 ? 10 * log10($2) : NaN)";
  const std::string file = "'" + gnuplot_quoted(s.table) + "'";
  const bool boxes = s.rows == 1 || s.points == 1;
  std::string commands;
  // Boxes on a time axis leave the colour range unscaled: it is measured first (stats works
  // before the axis becomes one of time).
  if (boxes) {
    commands += cformat("stats %s every :::0::%lld using %s nooutput\n", file.c_str(),
                        static_cast<long long>(s.rows - 1), colour.c_str());
    commands += "set cbrange [STATS_min:STATS_max]\n";
  }
  const Axis y = time_axis(s, commands);
  // The rows' own span, first row at the top: a single row is one row high, not a year.
  // (A range given from high to low runs down.)
  commands +=
      cformat("unset grid\nset yrange [%.17g:%.17g]\n", y.at(static_cast<double>(s.rows) - 0.5), y.at(-0.5));
  if (!boxes) commands += "set autoscale cbfix\n";
  commands += flagged_rows_band(s.flagged_rows, y);
  const std::string flag_key =
      s.flagged_rows.empty()
          ? ""
          : cformat(", NaN with lines lw 6 lc rgb '#e67e22' title 'flagged (%zu rows)'", s.flagged_rows.size());
  commands += "set xlabel '" + gnuplot_quoted(x.label) + "'\nset ylabel '" + gnuplot_quoted(y.label) + "'\n";
  commands += s.linear ? "set cblabel 'Mean power per frame'\n" : "set cblabel 'Mean power per frame (dB)'\n";
  commands +=
      "set palette defined (0 '#000004', 1 '#3b0f70', 2 '#8c2981', 3 '#de4968', 4 '#fe9f6d', 5 '#fcfdbf')\n";
  const std::string data = cformat("%s every :::0::%lld using (%s):", file.c_str(),
                                   static_cast<long long>(s.rows - 1), x.expression.c_str());
  if (!boxes) {
    return commands + "plot " + data + "(" + y.expression + "):" + colour + " with image notitle" + flag_key +
           "\n";
  }
  // gnuplot's images need two pixels each way: a single row or bin is drawn as boxes, and
  // lines down their middles cover the seams that antialiasing leaves between narrow boxes.
  const std::string half_row = script_number(y.scale / 2.0);
  return commands + "plot " + data + "(" + y.expression + "):(" + script_number(std::fabs(x.scale) / 2.0) + "):(" +
         half_row + "):" + colour + " with boxxyerror fill solid noborder lc palette notitle, " + data + "(" +
         y.expression + " - " + half_row + "):(0):(" + script_number(y.scale) + "):" + colour +
         " with vectors nohead lw 2 lc palette notitle" + flag_key + "\n";
}

}  // namespace iq
