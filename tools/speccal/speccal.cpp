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
// Kelvin (kelvin.hpp): with a hot and a cold load of temperatures T_hot > T_cold, per bin
//   Y = P_hot / P_cold,  T_rx = (T_hot - Y T_cold) / (Y - 1),  T_sys = T_rx + T_cold;
// with a noise diode of temperature T_cal switched on over the off reference,
//   T_sys = T_cal P_off / (P_diode - P_off).
// The off reference is taken to have that T_sys (the cold load is the off sky), so that
//   T_A = (on - off) / off * T_sys
// per bin: the reference maps to its system temperature and the source's excess to kelvin.
//
// Then, in this order: bin 0 interpolated (--dc), interference flagged (dsp/outlier_flags.hpp, --flag) and
// bin 0 flagged (--dc flag), the baseline fitted to the unflagged bins outside the line window
// and removed, and the line window's unflagged bins fitted and reported (line_report.hpp).
// Everything is computed before the output is created, so a refusal writes nothing.
//
// The table written starts with a header line "# speccal points=N" (the input's bins; with
// sample_rate_hz=, centre_frequency_hz=, and the on-table's start_utc=, seconds= (how long its
// frames took) and site= when known) and a line saying what a row holds; then
// "# kelvin: ...", "# dc bin 0: ..." and "# flagged bins: N ..." with "# flagged: B B ..." lines
// where they apply; then one line per bin, "%ld    %.17g", the bin number, four blanks and the
// calibrated value with every digit of the double. The tables read may start with comment
// lines: iqwaterfall's header gives the rate, centre, start, site and frames, and a waterfall of
// one row reads as a spectrum.
#include "speccal.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "baseline_fit.hpp"
#include "cal_options.hpp"
#include "kelvin.hpp"
#include "line_report.hpp"
#include "spectrum_table.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"
#include "dsp/outlier_flags.hpp"
#include "io/header_fields.hpp"
#include "io/output_file.hpp"
#include "io/table_reader.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// How far from a whole number of bins two tunings may be and still be shifted onto each other.
constexpr double kWholeBinTolerance = 1e-6;

// (on - off) / off per bin, for two tables of the same bins.
Spectrum calibrate(const SpectrumTable& on, const SpectrumTable& off) {
  require_same_bins(on, off);
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

// The baseline fitted to the calibrated bins outside the line window and not flagged, and how
// many there were.
Baseline fit_outside_line(const Spectrum& calibrated, const CalOptions& options, const std::vector<bool>& flagged,
                          std::size_t& fitted) {
  std::vector<double> fit_bins;
  std::vector<double> fit_values;
  for (std::size_t i = 0; i < calibrated.values.size(); ++i) {
    if (!options.outside_line(calibrated.bin(i)) || flagged[i]) continue;
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
// bin is rate / points wide, also where a switched table holds fewer), the on-table's start,
// the seconds its frames took and its site where known, and what a row holds.
std::string header_text(const SpectrumTable& on, std::optional<double> rate_hz, std::optional<double> centre_hz,
                        bool switched) {
  std::string header = "# speccal points=" + std::to_string(on.values.size());
  if (rate_hz) header += " sample_rate_hz=" + all_digits_text(*rate_hz);
  if (centre_hz) header += " centre_frequency_hz=" + all_digits_text(*centre_hz);
  if (on.header.datetime_utc) header += " start_utc=" + *on.header.datetime_utc;
  if (const double middle = on.middle_seconds(rate_hz); middle > 0.0) {
    header += " seconds=" + all_digits_text(2.0 * middle);
  }
  if (on.header.geolocation) header += " site=" + site_field_text(*on.header.geolocation);
  return header + (switched
                       ? "\n# frequency switching: ((A - B) / B + (B - A) / A moved onto A's bins) / 2 on the "
                         "bins both cover; a line: bin (as A's), value\n"
                       : "\n# (on - off) / off per bin; a line: bin, value\n");
}

// Flagged bin numbers per header line: short enough for any table reader's line.
constexpr std::size_t kFlagsPerLine = 40;

// What a run computes before anything is written.
struct Calibration {
  Spectrum spectrum;          // calibrated, in kelvin when scaled, less the baseline if any
  std::vector<bool> flagged;  // per bin of `spectrum`
  std::optional<Tuning> tuning;
  std::optional<KelvinScale> kelvin;
  std::optional<Baseline> baseline;
  std::size_t fitted = 0;
  double rms = 0.0;
  std::string report;
};

// The header lines after the first two: the kelvin scale, the DC bin and the flagged bins.
std::string flag_header(const CalOptions& options, const Calibration& c) {
  std::string text;
  if (options.y_factor) {
    text += cformat("# kelvin: the value times T_sys of its bin, by Y factor (T_hot %g K, T_cold %g K)\n",
                    options.y_factor->t_hot, options.y_factor->t_cold);
  }
  if (options.diode)
    text +=
        cformat("# kelvin: the value times T_sys of its bin, by noise diode (T_cal %g K)\n", options.diode->t_cal);
  if (options.dc == DcBin::flagged) text += "# dc bin 0: flagged\n";
  if (options.dc == DcBin::interpolated) text += "# dc bin 0: interpolated, the mean of bins -1 and 1\n";
  if (!options.flag_k && options.dc != DcBin::flagged) return text;
  const auto count = static_cast<std::size_t>(std::count(c.flagged.begin(), c.flagged.end(), true));
  text += cformat("# flagged bins: %zu", count);
  if (options.flag_k)
    text += cformat(" (more than %g MADs from the median of %zu bins)", *options.flag_k, options.flag_window);
  std::size_t on_line = 0;
  for (std::size_t i = 0; i < c.flagged.size(); ++i) {
    if (!c.flagged[i]) continue;
    if (on_line++ % kFlagsPerLine == 0) text += "\n# flagged:";
    text += ' ';
    text += std::to_string(c.spectrum.bin(i));
  }
  return text + "\n";
}

void write_values(OutputFile& table, const Spectrum& spectrum) {
  std::string lines;
  for (std::size_t i = 0; i < spectrum.values.size(); ++i) {
    lines += std::to_string(spectrum.bin(i)) + "    " + all_digits_text(spectrum.values[i]) + "\n";
    if (lines.size() > (std::size_t{1} << 16)) {
      table.write(lines);
      lines.clear();
    }
  }
  table.write(lines);
}

// The kelvin scale of the options' reference tables, on the on-table's bins; `extra` takes their ids.
std::optional<KelvinScale> read_kelvin_scale(const CalOptions& options, const SpectrumTable& on,
                                             const SpectrumTable& off, std::vector<FileId>& extra) {
  if (options.y_factor) {
    const SpectrumTable hot = read_spectrum(options.y_factor->hot);
    const SpectrumTable cold = read_spectrum(options.y_factor->cold);
    require_same_bins(on, hot, "--hot");
    extra = {hot.id, cold.id};
    return y_factor_scale(hot, cold, options.y_factor->t_hot, options.y_factor->t_cold);
  }
  if (!options.diode) return std::nullopt;
  const SpectrumTable diode = read_spectrum(options.diode->diode);
  extra = {diode.id};
  return diode_scale(diode, off, options.diode->t_cal);
}

// Bin 0 replaced by the mean of its neighbours, or flagged.
void treat_dc(Spectrum& spectrum, DcBin dc, std::vector<bool>& flagged) {
  if (dc == DcBin::kept) return;
  const std::int64_t zero = -spectrum.first_bin;
  const auto size = static_cast<std::int64_t>(spectrum.values.size());
  const bool has_neighbours = zero >= 1 && zero + 1 < size;
  if (zero < 0 || zero >= size || (dc == DcBin::interpolated && !has_neighbours)) {
    throw ToolError(dc == DcBin::flagged
                        ? "option --dc flag needs bin 0 in the calibrated table"
                        : "option --dc interpolate needs bins -1, 0 and 1 in the calibrated table");
  }
  const auto at = static_cast<std::size_t>(zero);
  if (dc == DcBin::flagged) {
    flagged[at] = true;
  } else {
    spectrum.values[at] = (spectrum.values[at - 1] + spectrum.values[at + 1]) / 2.0;
  }
}

// Removes the baseline from every bin; the rms of what is left outside the window, unflagged.
double subtract_baseline(Spectrum& spectrum, const Baseline& baseline, const CalOptions& options,
                         const std::vector<bool>& flagged) {
  double residual_squares = 0.0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < spectrum.values.size(); ++i) {
    const std::int64_t bin = spectrum.bin(i);
    spectrum.values[i] -= baseline.value(static_cast<double>(bin));
    if (options.outside_line(bin) && !flagged[i]) {
      residual_squares += spectrum.values[i] * spectrum.values[i];
      ++count;
    }
  }
  return std::sqrt(residual_squares / static_cast<double>(count));
}

// The velocity axis of the report: rest frequency, rate and centre from the options, else the
// switched tuning's or the on-table's header; the frame's correction at the site (--site, else
// the header's) and at the middle of the on-table's frames from their start (--start, else the
// header's).
VelocityAxis velocity_axis(const ReportOptions& report, const CalOptions& options, const SpectrumTable& on,
                           const std::optional<Tuning>& tuning) {
  const std::optional<double> rate = options.rate_hz ? options.rate_hz
                                     : tuning        ? tuning->rate_hz
                                                     : on.header.sample_rate_hz;
  const std::optional<double> centre = report.centre_hz ? report.centre_hz
                                       : tuning         ? tuning->centre_a_hz
                                                        : on.header.centre_frequency_hz;
  if (!rate || !centre) {
    throw ToolError(
        "option --report needs the sample rate and the centre frequency: give --rate and --centre, "
        "or an on-table whose header gives them");
  }
  VelocityAxis axis{report.rest_hz, *centre, *rate / static_cast<double>(on.values.size()), report.frame, 0.0};
  if (report.observation) {
    ObservationDefaults defaults = observation_defaults(on.header);
    defaults.from_metadata = false;  // the refusals name the options alone, as without a header
    const Observation o = observation_from_options(*report.observation, defaults);
    const UtcInstant middle = later_by(o.start, on.middle_seconds(rate));
    axis.correction_kms = correction_kms(report.frame, corrections_at(o, middle));
  }
  return axis;
}

// Calibrates, scales, flags, removes the baseline and fits the line: everything but the writing.
Calibration calibrate_all(const CalOptions& options, const SpectrumTable& on, const SpectrumTable& off,
                          std::vector<FileId>& extra) {
  Calibration c;
  c.spectrum = calibrate(on, off);
  if (options.switched) {
    c.tuning = switch_tuning(on, off, options);
    c.spectrum = switched_average(c.spectrum, calibrate(off, on), c.tuning->shift);
  }
  c.kelvin = read_kelvin_scale(options, on, off, extra);
  if (c.kelvin) {
    for (std::size_t i = 0; i < c.spectrum.values.size(); ++i) {
      c.spectrum.values[i] *= c.kelvin->system[static_cast<std::size_t>(c.spectrum.bin(i) - on.first_bin)];
    }
  }
  c.flagged.assign(c.spectrum.values.size(), false);
  if (options.dc == DcBin::interpolated) treat_dc(c.spectrum, options.dc, c.flagged);
  if (options.flag_k) c.flagged = outlier_flags(c.spectrum.values, *options.flag_k, options.flag_window);
  if (options.dc == DcBin::flagged) treat_dc(c.spectrum, options.dc, c.flagged);
  if (options.order) {
    c.baseline = fit_outside_line(c.spectrum, options, c.flagged, c.fitted);
    c.rms = subtract_baseline(c.spectrum, *c.baseline, options, c.flagged);
  }
  if (options.report) {
    c.report =
        line_report({c.spectrum, c.flagged, *options.line, velocity_axis(*options.report, options, on, c.tuning),
                     options.report->components, c.rms, c.kelvin.has_value()});
  }
  return c;
}

// The console's lines after the first: the switch, the temperatures, the flags and the baseline.
std::string console_text(const CalOptions& options, const Calibration& c, const SpectrumTable& on,
                         const SpectrumTable& off) {
  std::string text;
  if (c.tuning) {
    text += cformat("Switched: %s is tuned %lld bins %s %s; bins %lld to %lld, as %s's, are in both\n",
                    off.name.c_str(), static_cast<long long>(std::abs(c.tuning->shift)),
                    c.tuning->shift > 0 ? "above" : "below", on.name.c_str(),
                    static_cast<long long>(c.spectrum.first_bin),
                    static_cast<long long>(c.spectrum.bin(c.spectrum.values.size() - 1)), on.name.c_str());
  }
  if (c.kelvin) {
    text += cformat("T_sys=%.2f K (median over %zu bins)\n", median_of(c.kelvin->system), c.kelvin->system.size());
    if (c.kelvin->receiver) {
      text += cformat("T_rx=%.2f K (median over %zu bins)\n", median_of(*c.kelvin->receiver),
                      c.kelvin->receiver->size());
    }
  }
  if (options.flag_k || options.dc == DcBin::flagged) {
    text +=
        cformat("Flagged %zu of %zu bins\n",
                static_cast<std::size_t>(std::count(c.flagged.begin(), c.flagged.end(), true)), c.flagged.size());
  }
  if (c.baseline) {
    text += cformat("Baseline order %d fitted to %zu bins, rms residual %.5f\n", *options.order, c.fitted, c.rms);
  }
  return text + c.report;
}

int calibration_run(Run& run) {
  const CalOptions options = cal_options(run.options());
  const SpectrumTable on = read_spectrum(run.text(0));
  const SpectrumTable off = read_spectrum(run.text(1));
  const std::string& outfile = run.text(2);
  std::vector<FileId> extra;
  const Calibration c = calibrate_all(options, on, off, extra);
  extra.resize(2, on.id);

  OutputFile table(outfile, {on.id, off.id, extra[0], extra[1]});
  table.write(c.tuning ? header_text(on, c.tuning->rate_hz, c.tuning->centre_a_hz, true)
                       : header_text(on, on.header.sample_rate_hz, on.header.centre_frequency_hz, false));
  table.write(flag_header(options, c));
  write_values(table, c.spectrum);
  table.commit();
  run.out() << cformat("On=%s    Off=%s    Outfile=%s   Bins=%zu\n", on.name.c_str(), off.name.c_str(),
                       outfile.c_str(), c.spectrum.values.size())
            << console_text(options, c, on, off);
  return kExitSuccess;
}

}  // namespace

int run_speccal(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(speccal_command(), args, out, err, calibration_run);
}

}  // namespace iq
