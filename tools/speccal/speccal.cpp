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
// Frequency switching (--switch): the two tables are the same sky through two tunings, A and
// B, a whole number d of bins apart (B's centre d bins above A's). Each calibrates the other,
// (A - B) / B and (B - A) / A; a line at one sky frequency stands at A's bin k and at B's bin
// k - d, positive in both ratios, so B's ratio is moved d bins up onto A's bins and the two are
// averaged. Only the bins both halves cover are written, numbered as A's.
//
// The table written starts with a header line "# speccal points=N" (the input's bins; with
// sample_rate_hz= and centre_frequency_hz= when known) and a line saying what a row holds; then one line per bin,
// "%ld    %.17g", the bin number, four blanks and the calibrated value with every digit of the
// double. The tables read may start with comment lines: iqwaterfall's header gives the rate and
// centre, and a waterfall of one row reads as a spectrum.
#include "speccal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "baseline_fit.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"
#include "io/header_fields.hpp"
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
// A spectrum line is a bin number and a value: a few tens of characters; a header line more.
constexpr std::size_t kMaxLineLength = 1000;
// How far from a whole number of bins two tunings may be and still be shifted onto each other.
constexpr double kWholeBinTolerance = 1e-6;

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
        "spectrum tables of the same bins (as iqspec writes them, or one-row waterfalls); a\n"
        "reference bin of 0 or less is refused. The output has the same two columns, the value\n"
        "with every digit (\"%.17g\"), after two header lines.\n"
        "With --switch the tables are two tunings of the same sky, a whole number of bins apart:\n"
        "each calibrates the other and the two are shifted onto the first one's bins and averaged.",
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
              "the line window in bin numbers (both included), left out of the\nbaseline fit; needs --baseline"},
         {.name = "--switch",
          .alias = "-s",
          .help = "frequency switching: the tables are two tunings A and B; writes\n"
                  "((A - B) / B + (B - A) / A moved onto A's bins) / 2 on the\nbins both cover"},
         {.name = "--centres",
          .argument = "A_MHZ,B_MHZ",
          .help = "the two tunings' centres (instead of the tables' headers);\nneeds --switch"},
         {.name = "--centers", .argument = "A_MHZ,B_MHZ", .help = "the same as --centres"},
         {.name = "--rate",
          .alias = "-r",
          .argument = "MHZ",
          .help = "the complex sample rate (instead of the tables' headers);\nneeds --switch"}},
    .usage_on_console = false,
};

struct CalOptions {
  std::optional<int> order;
  std::optional<LineWindow> line;
  bool switched = false;
  std::optional<double> centre_a_hz, centre_b_hz, rate_hz;
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
  options.switched = given.has("--switch");
  for (const char* name : {"--centres", "--centers"}) {
    const auto centres = given.value(name);
    if (!centres) continue;
    const auto comma = centres->find(',');
    require_option(comma != std::string::npos, name, "A_MHZ,B_MHZ, the two centres in MHz");
    options.centre_a_hz = option_number(name, centres->substr(0, comma)) * 1e6;
    options.centre_b_hz = option_number(name, centres->substr(comma + 1)) * 1e6;
  }
  if (const auto rate = given.value("--rate")) {
    const double mhz = option_number("--rate", *rate);
    require_option(mhz > 0.0, "--rate", "a rate above 0 MHz");
    options.rate_hz = mhz * 1e6;
  }
  if ((options.centre_a_hz || options.rate_hz) && !options.switched) {
    throw ToolError("options --centres and --rate need --switch (they place the two tunings)");
  }
  return options;
}

// Bins and their values; calibrated spectra are held the same way.
struct Spectrum {
  std::int64_t first_bin = 0;
  std::vector<double> values;
  std::int64_t bin(std::size_t i) const { return first_bin + static_cast<std::int64_t>(i); }
};

struct SpectrumTable : Spectrum {
  std::string name;
  FileId id;
  // The rate and centre of a header line's sample_rate_hz= and centre_frequency_hz=, if any.
  CaptureMetadata header;
};

// Reads a spectrum table: lines of a bin number and a finite value, the bins running up by
// one. Comment lines ("#") and blank lines are passed over, so a waterfall of one row reads as
// a spectrum; a second row is refused. Anything else is refused in one line naming the table.
SpectrumTable read_spectrum(const std::string& name) {
  TableReader text(name, kMaxLineLength);
  SpectrumTable table;
  table.name = name;
  table.id = text.id();
  std::string line;
  bool after_blank = false;
  while (text.next_line(line)) {
    const auto refuse = [&](const std::string& why) {
      return ToolError(name + " is not a spectrum table: line " + std::to_string(text.line_number()) + " " + why);
    };
    const std::vector<std::string> fields = fields_of(line);
    if (!fields.empty() && fields[0].starts_with('#')) {
      const std::string bad = take_tuning_fields(fields, table.header);
      if (!bad.empty()) throw refuse("has " + bad + ", not a number");
      continue;
    }
    after_blank = after_blank || (fields.empty() && !table.values.empty());
    if (fields.empty()) continue;
    if (fields.size() != 2)
      throw refuse("has " + std::to_string(fields.size()) + " fields, not a bin and a value");
    std::int64_t bin = 0;
    double value = 0.0;
    if (!whole_field(fields[0], bin)) throw refuse("starts with '" + fields[0] + "', not a bin number");
    if (!number_field(fields[1], value)) throw refuse("holds '" + fields[1] + "', not a finite value");
    if (after_blank && bin == table.first_bin) {
      throw refuse(
          "starts a second row of spectra: a waterfall of several rows (iqwaterfall with 0 frames "
          "per row writes one)");
    }
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
Spectrum calibrate(const SpectrumTable& on, const SpectrumTable& off) {
  if (on.values.size() != off.values.size()) {
    throw ToolError(cformat("the tables differ in length: %s has %zu bins, %s has %zu", on.name.c_str(),
                            on.values.size(), off.name.c_str(), off.values.size()));
  }
  if (on.first_bin != off.first_bin) {
    throw ToolError(cformat("the tables differ in their bins: %s starts at bin %lld, %s at bin %lld",
                            on.name.c_str(), static_cast<long long>(on.first_bin), off.name.c_str(),
                            static_cast<long long>(off.first_bin)));
  }
  Spectrum calibrated{on.first_bin, std::vector<double>(on.values.size())};
  for (std::size_t i = 0; i < on.values.size(); ++i) {
    if (!(off.values[i] > 0.0)) {
      throw ToolError(
          cformat("%s: the reference's bin %lld is %g; (on - off) / off needs every reference bin above 0",
                  off.name.c_str(), static_cast<long long>(off.bin(i)), off.values[i]));
    }
    calibrated.values[i] = (on.values[i] - off.values[i]) / off.values[i];
  }
  return calibrated;
}

// The baseline fitted to the calibrated bins outside the line window, and how many there were.
Baseline fit_outside_line(const Spectrum& calibrated, const CalOptions& options, std::size_t& fitted) {
  std::vector<double> fit_bins;
  std::vector<double> fit_values;
  for (std::size_t i = 0; i < calibrated.values.size(); ++i) {
    if (!options.outside_line(calibrated.bin(i))) continue;
    fit_bins.push_back(static_cast<double>(calibrated.bin(i)));
    fit_values.push_back(calibrated.values[i]);
  }
  if (fit_bins.size() <= static_cast<std::size_t>(*options.order)) {
    throw ToolError(cformat("a baseline of order %d needs at least %d bins outside the line window; there are %zu",
                            *options.order, *options.order + 1, fit_bins.size()));
  }
  fitted = fit_bins.size();
  return fit_baseline(fit_bins, fit_values, *options.order);
}

// Where the two tunings of a switched pair lie, from the options or else the tables' headers.
struct Tuning {
  double rate_hz = 0.0;
  double centre_a_hz = 0.0;
  std::int64_t shift = 0;  // B's centre above A's, in bins
};

Tuning switch_tuning(const SpectrumTable& a, const SpectrumTable& b, const CalOptions& options) {
  const std::optional<double> a_rate = a.header.sample_rate_hz;
  const std::optional<double> b_rate = b.header.sample_rate_hz;
  if (a_rate && b_rate && *a_rate != *b_rate && !options.rate_hz) {
    throw ToolError(cformat("the tables differ in their sample rate: %s has %.17g Hz, %s %.17g Hz", a.name.c_str(),
                            *a_rate, b.name.c_str(), *b_rate));
  }
  const std::optional<double> rate = options.rate_hz ? options.rate_hz : a_rate ? a_rate : b_rate;
  const std::optional<double> centre_a = options.centre_a_hz ? options.centre_a_hz : a.header.centre_frequency_hz;
  const std::optional<double> centre_b = options.centre_b_hz ? options.centre_b_hz : b.header.centre_frequency_hz;
  if (!rate) throw ToolError("--switch needs the sample rate: the tables' headers lack it; give --rate MHZ");
  if (!centre_a || !centre_b) {
    throw ToolError(
        "--switch needs both tunings' centres: the tables' headers lack them; give --centres A_MHZ,B_MHZ");
  }
  const double bin_hz = *rate / static_cast<double>(a.values.size());
  const double bins = (*centre_b - *centre_a) / bin_hz;
  const double whole = std::round(bins);
  if (!(std::fabs(bins - whole) <= kWholeBinTolerance)) {
    throw ToolError(
        cformat("the centres differ by %.9g bins of %.17g Hz, not a whole number: the two tunings "
                "can't be shifted onto each other",
                bins, bin_hz));
  }
  if (whole == 0.0) throw ToolError("the centres are the same: frequency switching needs two tunings");
  if (std::fabs(whole) >= static_cast<double>(a.values.size())) {
    throw ToolError(
        cformat("the centres differ by %.0f bins, as many as the tables hold: the tunings share no bin", whole));
  }
  return Tuning{*rate, *centre_a, static_cast<std::int64_t>(whole)};
}

// ((A - B) / B at A's bin k + (B - A) / A at B's bin k - shift) / 2, on A's bins that B covers.
Spectrum switched_average(const Spectrum& a_ratio, const Spectrum& b_ratio, std::int64_t shift) {
  const auto count = static_cast<std::int64_t>(a_ratio.values.size());
  const std::int64_t first = std::max<std::int64_t>(0, shift);
  const std::int64_t last = std::min(count, count + shift);
  Spectrum average{a_ratio.bin(static_cast<std::size_t>(first)), {}};
  for (std::int64_t i = first; i < last; ++i) {
    average.values.push_back(
        (a_ratio.values[static_cast<std::size_t>(i)] + b_ratio.values[static_cast<std::size_t>(i - shift)]) / 2.0);
  }
  return average;
}

// The output's header: the bins of the whole spectrum, the rate and centre that place them (a
// bin is rate / points wide, also where a switched table holds fewer), and what a row holds.
std::string header_text(std::size_t points, std::optional<double> rate_hz, std::optional<double> centre_hz,
                        bool switched) {
  std::string header = "# speccal points=" + std::to_string(points);
  if (rate_hz) header += " sample_rate_hz=" + all_digits_text(*rate_hz);
  if (centre_hz) header += " centre_frequency_hz=" + all_digits_text(*centre_hz);
  return header + (switched
                       ? "\n# frequency switching: ((A - B) / B + (B - A) / A moved onto A's bins) / 2 on the "
                         "bins both cover; a line: bin (as A's), value\n"
                       : "\n# (on - off) / off per bin; a line: bin, value\n");
}

// Writes the calibrated bins, less the baseline when there is one; the baseline's sum of
// squared residuals outside the line window.
double write_calibrated(OutputFile& table, const Spectrum& calibrated, const std::optional<Baseline>& baseline,
                        const CalOptions& options) {
  std::string lines;
  double residual_squares = 0.0;
  for (std::size_t i = 0; i < calibrated.values.size(); ++i) {
    const std::int64_t bin = calibrated.bin(i);
    double value = calibrated.values[i];
    if (baseline) {
      value -= baseline->value(static_cast<double>(bin));
      if (options.outside_line(bin)) residual_squares += value * value;
    }
    lines += std::to_string(bin) + "    " + all_digits_text(value) + "\n";
    if (lines.size() > (std::size_t{1} << 16)) {
      table.write(lines);
      lines.clear();
    }
  }
  table.write(lines);
  return residual_squares;
}

int calibration_run(Run& run) {
  const CalOptions options = cal_options(run.options());
  const SpectrumTable on = read_spectrum(run.text(0));
  const SpectrumTable off = read_spectrum(run.text(1));
  const std::string& outfile = run.text(2);
  Spectrum calibrated = calibrate(on, off);
  std::optional<Tuning> tuning;
  if (options.switched) {
    tuning = switch_tuning(on, off, options);
    calibrated = switched_average(calibrated, calibrate(off, on), tuning->shift);
  }
  std::optional<Baseline> baseline;
  std::size_t fitted = 0;
  if (options.order) baseline = fit_outside_line(calibrated, options, fitted);

  OutputFile table(outfile, {on.id, off.id});
  table.write(tuning
                  ? header_text(on.values.size(), tuning->rate_hz, tuning->centre_a_hz, true)
                  : header_text(on.values.size(), on.header.sample_rate_hz, on.header.centre_frequency_hz, false));
  const double residual_squares = write_calibrated(table, calibrated, baseline, options);
  table.commit();
  run.out() << cformat("On=%s    Off=%s    Outfile=%s   Bins=%zu\n", on.name.c_str(), off.name.c_str(),
                       outfile.c_str(), calibrated.values.size());
  if (tuning) {
    run.out() << cformat("Switched: %s is tuned %lld bins %s %s; bins %lld to %lld, as %s's, are in both\n",
                         off.name.c_str(), static_cast<long long>(std::abs(tuning->shift)),
                         tuning->shift > 0 ? "above" : "below", on.name.c_str(),
                         static_cast<long long>(calibrated.first_bin),
                         static_cast<long long>(calibrated.bin(calibrated.values.size() - 1)), on.name.c_str());
  }
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
