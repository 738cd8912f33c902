// SPDX-License-Identifier: MIT
// speccal: reads two spectrum tables of the same bins, a spectrum "on" the source and a
// reference "off" it (off source or off frequency, through the same receiver), and writes
// (on - off) / off per bin: the receiver's passband shape divides out. Optionally a polynomial
// baseline, fitted outside a line window, is subtracted from that ratio.
//
// Arithmetic: the tables' values are read as doubles, the ratio is formed in double, the
// baseline fitted in double (baseline_fit.hpp). A reference bin of 0 or less is refused: a mean
// power cannot be 0 or negative, so the table is not a reference spectrum (or the bin was
// printed as 0.000 from a power too small to divide by meaningfully).
//
// The table written has the spectrum layout: one line per bin, "%ld    %.5f", the bin number
// (as in the input tables), four blanks and the calibrated value with five decimals.
#include "speccal.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "baseline_fit.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"
#include "io/output_file.hpp"
#include "io/table_reader.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr const char* kSpeccalUsage =
    "Usage: speccal <on table> <off table> <out table> [options]   (speccal -h lists the options)";

constexpr int kMaxOrder = 10;
// Four times iqspec's largest table: more lines than this is no spectrum.
constexpr std::int64_t kMaxBins = std::int64_t{1} << 19;
// A spectrum line is a bin number and a value: a few tens of characters.
constexpr std::size_t kMaxLineLength = 1000;

struct LineWindow {
  std::int64_t from = 0;
  std::int64_t to = 0;
};

const Command kCommand{
    .tool = "speccal",
    .usage = kSpeccalUsage,
    .summary =
        "Calibrates a spectrum against a reference taken off the source through the same receiver:\n"
        "writes (on - off) / off per bin, so that the passband shape divides out. Both tables are\n"
        "spectrum tables of the same bins (as iqspec writes them); a reference bin of 0 or less is\n"
        "refused. The output has the same two columns, the value with five decimals.",
    .parameters = {text_parameter("on table"), text_parameter("off table"), text_parameter("out table")},
    .options =
        {{.name = "--baseline",
          .alias = "-b",
          .argument = "ORDER",
          .help = "subtract a polynomial of this order (0 to 10), fitted by least\n"
                  "squares to the calibrated bins outside the line window"},
         {.name = "--line",
          .alias = "-l",
          .argument = "FROM:TO",
          .help =
              "the line window in bin numbers (both included), left out of the\nbaseline fit; needs --baseline"}},
    .usage_on_console = false,
};

struct CalOptions {
  std::optional<int> order;
  std::optional<LineWindow> line;
  bool outside_line(std::int64_t bin) const { return !line || bin < line->from || bin > line->to; }
};

LineWindow parse_line(const std::string& option, const std::string& text) {
  const auto colon = text.find(':', 1);
  const char* range = "FROM:TO, two bin numbers with FROM at most TO";
  require_option(colon != std::string::npos, option, range);
  const LineWindow line{option_whole(option, text.substr(0, colon)), option_whole(option, text.substr(colon + 1))};
  require_option(line.from <= line.to, option, range);
  return line;
}

CalOptions cal_options(const GivenOptions& given) {
  CalOptions options;
  if (const auto order = given.value("--baseline")) {
    const std::int64_t value = option_whole("--baseline", *order);
    require_option(value >= 0 && value <= kMaxOrder, "--baseline", "an order from 0 to 10");
    options.order = static_cast<int>(value);
  }
  if (const auto line = given.value("--line")) options.line = parse_line("--line", *line);
  if (options.line && !options.order) {
    throw ToolError("option --line needs --baseline (the window is what the baseline fit leaves out)");
  }
  return options;
}

struct SpectrumTable {
  std::string name;
  FileId id;
  std::int64_t first_bin = 0;
  std::vector<double> values;
  std::int64_t bin(std::size_t i) const { return first_bin + static_cast<std::int64_t>(i); }
};

// A whole number or a finite number that is the whole field.
bool parse_bin(const std::string& field, std::int64_t& bin) {
  char* end = nullptr;
  errno = 0;
  bin = std::strtoll(field.c_str(), &end, 10);
  return !field.empty() && *end == '\0' && errno != ERANGE;
}
bool parse_value(const std::string& field, double& value) {
  char* end = nullptr;
  value = std::strtod(field.c_str(), &end);
  return !field.empty() && *end == '\0' && std::isfinite(value);
}

// Reads a spectrum table: lines of a bin number and a finite value, the bins running up by
// one. Blank lines are passed over. Anything else is refused in one line naming the table.
SpectrumTable read_spectrum(const std::string& name) {
  TableReader text(name, kMaxLineLength);
  SpectrumTable table{name, text.id(), 0, {}};
  std::string line;
  while (text.next_line(line)) {
    std::vector<std::string> fields;
    for (std::size_t at = 0; (at = line.find_first_not_of(" \t", at)) != std::string::npos;) {
      const std::size_t stop = std::min(line.find_first_of(" \t", at), line.size());
      fields.push_back(line.substr(at, stop - at));
      at = stop;
    }
    if (fields.empty()) continue;
    const auto refuse = [&](const std::string& why) {
      return ToolError(name + " is not a spectrum table: line " + std::to_string(text.line_number()) + " " + why);
    };
    if (fields.size() != 2)
      throw refuse("has " + std::to_string(fields.size()) + " fields, not a bin and a value");
    std::int64_t bin = 0;
    double value = 0.0;
    if (!parse_bin(fields[0], bin)) throw refuse("starts with '" + fields[0] + "', not a bin number");
    if (!parse_value(fields[1], value)) throw refuse("holds '" + fields[1] + "', not a finite value");
    if (table.values.empty()) {
      table.first_bin = bin;
    } else if (bin != table.bin(table.values.size())) {
      throw refuse("has bin " + fields[0] + " after bin " + std::to_string(table.bin(table.values.size() - 1)));
    }
    if (static_cast<std::int64_t>(table.values.size()) == kMaxBins) {
      throw refuse("goes beyond " + std::to_string(kMaxBins) + " bins");
    }
    table.values.push_back(value);
  }
  if (table.values.empty()) throw ToolError(name + " is not a spectrum table: it has no bins");
  return table;
}

// (on - off) / off per bin, for two tables of the same bins.
std::vector<double> calibrate(const SpectrumTable& on, const SpectrumTable& off) {
  if (on.values.size() != off.values.size()) {
    throw ToolError(cformat("the tables differ in length: %s has %zu bins, %s has %zu", on.name.c_str(),
                            on.values.size(), off.name.c_str(), off.values.size()));
  }
  if (on.first_bin != off.first_bin) {
    throw ToolError(cformat("the tables differ in their bins: %s starts at bin %lld, %s at bin %lld",
                            on.name.c_str(), static_cast<long long>(on.first_bin), off.name.c_str(),
                            static_cast<long long>(off.first_bin)));
  }
  std::vector<double> calibrated(on.values.size());
  for (std::size_t i = 0; i < calibrated.size(); ++i) {
    if (!(off.values[i] > 0.0)) {
      throw ToolError(
          cformat("%s: the reference's bin %lld is %g; (on - off) / off needs every reference bin above 0",
                  off.name.c_str(), static_cast<long long>(off.bin(i)), off.values[i]));
    }
    calibrated[i] = (on.values[i] - off.values[i]) / off.values[i];
  }
  return calibrated;
}

// The baseline fitted to the calibrated bins outside the line window, and how many there were.
Baseline fit_outside_line(const SpectrumTable& on, const std::vector<double>& calibrated,
                          const CalOptions& options, std::size_t& fitted) {
  std::vector<double> fit_bins;
  std::vector<double> fit_values;
  for (std::size_t i = 0; i < calibrated.size(); ++i) {
    if (!options.outside_line(on.bin(i))) continue;
    fit_bins.push_back(static_cast<double>(on.bin(i)));
    fit_values.push_back(calibrated[i]);
  }
  if (fit_bins.size() <= static_cast<std::size_t>(*options.order)) {
    throw ToolError(cformat("a baseline of order %d needs at least %d bins outside the line window; there are %zu",
                            *options.order, *options.order + 1, fit_bins.size()));
  }
  fitted = fit_bins.size();
  return fit_baseline(fit_bins, fit_values, *options.order);
}

int calibration_run(Run& run) {
  const CalOptions options = cal_options(run.options());
  const SpectrumTable on = read_spectrum(run.text(0));
  const SpectrumTable off = read_spectrum(run.text(1));
  const std::string& outfile = run.text(2);
  const std::vector<double> calibrated = calibrate(on, off);
  std::optional<Baseline> baseline;
  std::size_t fitted = 0;
  if (options.order) baseline = fit_outside_line(on, calibrated, options, fitted);

  OutputFile table(outfile, {on.id, off.id});
  std::string lines;
  double residual_squares = 0.0;
  for (std::size_t i = 0; i < calibrated.size(); ++i) {
    const std::int64_t bin = on.bin(i);
    double value = calibrated[i];
    if (baseline) {
      value -= baseline->value(static_cast<double>(bin));
      if (options.outside_line(bin)) residual_squares += value * value;
    }
    lines += cformat("%lld    %.5f\n", static_cast<long long>(bin), value);
    if (lines.size() > (std::size_t{1} << 16)) {
      table.write(lines);
      lines.clear();
    }
  }
  table.write(lines);
  table.commit();
  run.out() << cformat("On=%s    Off=%s    Outfile=%s   Bins=%zu\n", on.name.c_str(), off.name.c_str(),
                       outfile.c_str(), calibrated.size());
  if (baseline) {
    run.out() << cformat("Baseline order %d fitted to %zu bins, rms residual %.5f\n", *options.order, fitted,
                         std::sqrt(residual_squares / static_cast<double>(fitted)));
  }
  return kExitSuccess;
}

}  // namespace

int run_speccal(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, calibration_run);
}

}  // namespace iq
