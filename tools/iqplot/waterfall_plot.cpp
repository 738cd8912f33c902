// Waterfall tables drawn as heat maps.
#include "waterfall_plot.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "spectral_axis.hpp"

namespace iq {

namespace {

constexpr std::int64_t kMaxPoints = 131072;

bool whole_field(const std::string& text, std::int64_t& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0' && errno != ERANGE;
}

bool number_field(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

// The blank-separated fields of a line.
std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
    const std::size_t stop = std::min(line.find_first_of(" \t", at), line.size());
    fields.push_back(line.substr(at, stop - at));
    at = stop;
  }
  return fields;
}

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
    }
    // Other keys are left for newer writers.
  }
  if (shape.points == 0 || shape.frames_per_row == 0) throw bad("lacks points= or frames_per_row=");
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
    if (!line.empty() && line[0] == '#') continue;
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

std::string waterfall_plot_commands(const PlotSettings& s) {
  const Axis x = spectral_axis(s, s.points);
  Axis y{"column(-1)", cformat("Row (of %lld frames)", static_cast<long long>(s.frames_per_row))};
  std::string commands;
  if (s.rate_mhz) {
    // Row r holds frames r·M .. r·M + M − 1; its pixel is drawn at its middle.
    const double row_seconds =
        static_cast<double>(s.frames_per_row) * static_cast<double>(s.points) / (*s.rate_mhz * 1e6);
    const double span = row_seconds * static_cast<double>(s.rows);
    const std::optional<double> start = s.start_utc ? utc_datetime_seconds(*s.start_utc) : std::nullopt;
    if (start) {
      y = {script_number(*start) + " + (column(-1) + 0.5) * " + script_number(row_seconds),
           "Time (UTC), from " + *s.start_utc};
      commands += "set ydata time\nset timefmt '%s'\n";
      commands += span >= 86400.0 ? "set format y '%d %H:%M'\n" : "set format y '%H:%M:%S'\n";
    } else if (span > 600.0) {
      y = {"(column(-1) + 0.5) * " + script_number(row_seconds / 60.0), "Time from the start (min)"};
    } else {
      y = {"(column(-1) + 0.5) * " + script_number(row_seconds), "Time from the start (s)"};
    }
  }
  const std::string colour = s.linear ? "2" : "($2 > 0 ? 10 * log10($2) : NaN)";
  commands += "unset grid\nset yrange [*:*] reverse\nset autoscale yfix\nset autoscale cbfix\n";
  commands += "set xlabel '" + gnuplot_quoted(x.label) + "'\nset ylabel '" + gnuplot_quoted(y.label) + "'\n";
  commands += s.linear ? "set cblabel 'Mean power per frame'\n" : "set cblabel 'Mean power per frame (dB)'\n";
  commands +=
      "set palette defined (0 '#000004', 1 '#3b0f70', 2 '#8c2981', 3 '#de4968', 4 '#fe9f6d', 5 '#fcfdbf')\n";
  commands += cformat("plot '%s' every :::0::%lld using (%s):(%s):%s with image notitle\n",
                      gnuplot_quoted(s.table).c_str(), static_cast<long long>(s.rows - 1), x.expression.c_str(),
                      y.expression.c_str(), colour.c_str());
  return commands;
}

}  // namespace iq
