// SPDX-License-Identifier: MIT
// speccal's options: calibration, kelvin scale, interference flags and the line report, read
// and checked before any table is.
#include "cal_options.hpp"

#include <cmath>
#include <vector>

#include "cli/outlier_options.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr int kMaxOrder = 10;
constexpr int kMaxComponents = 4;
constexpr double kHydrogenRestMhz = 1420.405751768;
constexpr double kJ2000Jd = 2451545.0;

std::vector<OptionSpec> calibration_options() {
  return {
      {.name = "--baseline",
       .alias = "-b",
       .argument = "ORDER",
       .help = "subtract a polynomial of this order (0 to 10), fitted by least\n"
               "squares to the calibrated bins outside the line window"},
      {.name = "--line",
       .alias = "-l",
       .argument = "FROM:TO",
       .help = "the line window in bin numbers (both included), left out of the\nbaseline fit; needs --baseline"},
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
       .help = "the complex sample rate (instead of the tables' headers);\nneeds --switch or --report"}};
}

std::vector<OptionSpec> kelvin_and_flag_options() {
  return {{.name = "--hot", .argument = "TABLE", .help = "the hot load's spectrum (a Y factor with --cold)"},
          {.name = "--cold", .argument = "TABLE", .help = "the cold load's spectrum"},
          {.name = "--t-hot", .argument = "K", .help = "the hot load's temperature in kelvin"},
          {.name = "--t-cold", .argument = "K", .help = "the cold load's temperature in kelvin"},
          {.name = "--diode",
           .argument = "TABLE",
           .help = "the reference's spectrum with the noise diode on (instead of\n--hot and --cold)"},
          {.name = "--t-cal", .argument = "K", .help = "the noise diode's temperature in kelvin"},
          {.name = "--flag",
           .argument = "K",
           .help = "flag bins more than K median absolute deviations from the running\nmedian; fits skip them"},
          {.name = "--flag-window",
           .argument = "BINS",
           .help = "the running median's width, odd, 3 to 1001 (9); narrower than\nthe lines, wider than the "
                   "interference"},
          {.name = "--dc",
           .argument = "flag|interpolate",
           .help = "flag bin 0, or replace it by the mean of bins -1 and 1"}};
}

std::vector<OptionSpec> report_options() {
  std::vector<OptionSpec> options{
      {.name = "--report",
       .help = "fit the line window and print the line's report (needs --baseline\nand --line)"},
      {.name = "--components", .argument = "N", .help = "Gaussian components to fit, 1 to 4 (1)"},
      {.name = "--rest", .argument = "MHZ", .help = "the line's rest frequency (1420.405751768, HI)"},
      {.name = "--centre", .argument = "MHZ", .help = "the centre frequency (instead of the table's header)"},
      {.name = "--center", .argument = "MHZ", .help = "the same as --centre"},
      kFrameOption};
  for (const OptionSpec& option : observation_options()) options.push_back(option);
  return options;
}

Command make_command() {
  std::vector<OptionSpec> options = calibration_options();
  for (auto more : {kelvin_and_flag_options(), report_options()})
    options.insert(options.end(), more.begin(), more.end());
  return Command{
      .tool = "speccal",
      .usage = "Usage: speccal <on table> <off table> <out table> [options]   (speccal -h lists the options)",
      .summary =
          "Calibrates a spectrum against a reference taken off the source through the same receiver:\n"
          "writes (on - off) / off per bin, so that the passband shape divides out. Both tables are\n"
          "spectrum tables of the same bins (as iqspec writes them, or one-row waterfalls); a\n"
          "reference bin of 0 or less is refused. The output has the same two columns, the value\n"
          "with every digit (\"%.17g\"), after two header lines.\n"
          "With --switch the tables are two tunings of the same sky, a whole number of bins apart:\n"
          "each calibrates the other and the two are shifted onto the first one's bins and averaged.\n"
          "With a Y factor (--hot, --cold) or a noise diode (--diode) the ratio is scaled by the\n"
          "system temperature per bin, in kelvin; --flag marks interference; --report fits the line.",
      .parameters = {text_parameter("on table"), text_parameter("off table"), text_parameter("out table")},
      .options = options,
      .usage_on_console = false,
  };
}

LineWindow parse_line(const std::string& option, const std::string& text) {
  const auto colon = text.find(':', 1);
  const char* range = "FROM:TO, two bin numbers with FROM at most TO";
  require_option(colon != std::string::npos, option, range);
  const LineWindow line{option_whole(option, text.substr(0, colon)), option_whole(option, text.substr(colon + 1))};
  require_option(line.from <= line.to, option, range);
  return line;
}

// A temperature option, finite and above 0 K; nothing when it is not given.
std::optional<double> temperature(const GivenOptions& given, const char* option) {
  const auto text = given.value(option);
  if (!text) return std::nullopt;
  const double kelvin = option_number(option, *text);
  require_option(kelvin > 0.0, option, "a temperature above 0 K");
  return kelvin;
}

// --hot, --cold, --t-hot and --t-cold all together, or --diode and --t-cal, or none of them.
void read_kelvin(const GivenOptions& given, CalOptions& options) {
  const auto t_hot = temperature(given, "--t-hot");
  const auto t_cold = temperature(given, "--t-cold");
  const auto t_cal = temperature(given, "--t-cal");
  const auto hot = given.value("--hot");
  const auto cold = given.value("--cold");
  const auto diode = given.value("--diode");
  const bool any_load = hot || cold || t_hot || t_cold;
  if (any_load && !(hot && cold && t_hot && t_cold)) {
    throw ToolError(
        "options --hot, --cold, --t-hot and --t-cold go together: a Y factor needs both loads and "
        "their temperatures");
  }
  if ((diode || t_cal) && !(diode && t_cal)) throw ToolError("options --diode and --t-cal go together");
  if (any_load && diode) throw ToolError("options --diode and --hot/--cold both set the kelvin scale: give one");
  if (t_hot && !(*t_hot > *t_cold)) {
    throw ToolError(
        cformat("option --t-hot must be above --t-cold: the hot load (%g K) is not hotter than the "
                "cold one (%g K)",
                *t_hot, *t_cold));
  }
  if (hot) options.y_factor = YFactorOptions{*hot, *cold, *t_hot, *t_cold};
  if (diode) options.diode = DiodeOptions{*diode, *t_cal};
}

void read_flags(const GivenOptions& given, CalOptions& options) {
  if (const auto flags = outlier_options(given, "bins")) {
    options.flag_k = flags->k;
    options.flag_window = flags->window;
  }
  if (const auto dc = given.value("--dc")) {
    require_option(*dc == "flag" || *dc == "interpolate", "--dc", "flag or interpolate (got '" + *dc + "')");
    options.dc = *dc == "flag" ? DcBin::flagged : DcBin::interpolated;
  }
}

// A frequency option in MHz, above 0; nothing when it is not given.
std::optional<double> frequency_hz(const GivenOptions& given, const char* option) {
  const auto text = given.value(option);
  if (!text) return std::nullopt;
  const double mhz = option_number(option, *text);
  require_option(mhz > 0.0, option, "a frequency above 0 MHz");
  return mhz * 1e6;
}

void read_report(const GivenOptions& given, CalOptions& options) {
  const bool any = given.has("--components") || given.has("--rest") || given.has("--centre") ||
                   given.has("--center") || given.has("--frame");
  if (!given.has("--report")) {
    if (any) throw ToolError("options --components, --rest, --centre and --frame need --report");
    return;
  }
  if (!options.order || !options.line) {
    throw ToolError(
        "option --report needs --baseline and --line: the window to fit and the baseline whose rms "
        "gives the uncertainties");
  }
  ReportOptions report;
  if (const auto n = given.value("--components")) {
    const std::int64_t count = option_whole("--components", *n);
    require_option(count >= 1 && count <= kMaxComponents, "--components", "a count from 1 to 4");
    report.components = static_cast<int>(count);
  }
  report.rest_hz = frequency_hz(given, "--rest").value_or(kHydrogenRestMhz * 1e6);
  report.centre_hz = frequency_hz(given, "--centre");
  if (const auto centre = frequency_hz(given, "--center")) report.centre_hz = centre;
  report.frame = frame_option(given);
  if (report.frame != VelocityFrame::topocentric) {
    // Checked now, before any table is read, with a stand-in for what a header may give.
    observation_from_options(given, ObservationDefaults{Site{}, UtcInstant{kJ2000Jd, 0.0}});
    report.observation = given;
  }
  options.report = report;
}

}  // namespace

const Command& speccal_command() {
  static const Command command = make_command();
  return command;
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
  if ((options.centre_a_hz || (options.rate_hz && !given.has("--report"))) && !options.switched) {
    throw ToolError("options --centres and --rate need --switch (they place the two tunings)");
  }
  read_kelvin(given, options);
  read_flags(given, options);
  read_report(given, options);
  return options;
}

}  // namespace iq
