// cyclesearch: one pass over a capture into sub-integrations folded at the nominal period,
// then every trial period by shifting and adding them; the table, the best trial, its profile
// and whether it is a detection.
#include "cyclesearch.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_scanner.hpp"
#include "cli/tool_main.hpp"
#include "dsp/folding.hpp"
#include "dsp/significance.hpp"
#include "flow/fold_run.hpp"
#include "io/capture_reader.hpp"
#include "io/output_file.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "period_search.hpp"
#include "runs/fold_tool.hpp"

namespace iq {

namespace {

constexpr const char* kTool = "cyclesearch";

constexpr const char* kHelp =
    "cyclesearch <capture> <table> <clock rate (MHz)> <bins> <period (ms)> <span> <trials> [options]\n"
    "Folds the power of every sample once, at the nominal period, into sub-integrations, then\n"
    "forms the profile at each of <trials> periods from period * (1 - span) to\n"
    "period * (1 + span) by shifting and adding them. The table has one line per trial: period\n"
    "(ms), chi-square of the profile against its mean, reduced chi-square, peak S/N. The\n"
    "console names the best trial, its on-pulse phase and its significance.\n"
    "\n"
    "  --subints N          sub-integrations (default: enough that the pulse drifts less than\n"
    "                       one bin across one of them at the edge of the span)\n"
    "  --threshold SIGMA    significance that counts as a detection (default 5)\n"
    "  --profile FILE       the best trial's profile, in cyclestack's table layout\n"
    "  -h, --help           this text\n";

// Trials a search takes at most (the table keeps one line each).
constexpr std::int64_t kMaxTrials = 100000;

struct SearchOptions {
  std::vector<std::string> positional;
  std::optional<std::int64_t> subints;
  double threshold_sigma = 5.0;
  std::optional<std::string> profile;
  bool help = false;
};

bool is_number(const std::string& text) {
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0';
}

SearchOptions parse_options(const ToolArgs& args) {
  SearchOptions options;
  OptionScanner scan(args);
  while (scan.next()) {
    const std::string& name = scan.name();
    if (name == "-h" || name == "--help") {
      options.help = true;
    } else if (!scan.is_option() || is_number(name)) {
      // A negative number is a (refused) span or trial count, not an option.
      options.positional.push_back(name);
    } else if (name == "--subints") {
      options.subints = option_whole(name, scan.value());
    } else if (name == "--threshold") {
      options.threshold_sigma = option_number(name, scan.value());
      require_option(options.threshold_sigma > 0.0, name, "a significance above 0 sigma");
    } else if (name == "--profile") {
      options.profile = scan.value();
      require_option(!options.profile->empty(), name, "a file name");
    } else {
      throw ToolError("unknown option '" + name + "'");
    }
  }
  return options;
}

// A probability given by its natural logarithm, in three significant digits however small.
std::string probability_text(double log_p) {
  if (log_p > -700.0) return cformat("%.3g", std::exp(log_p));
  const double decimal = log_p / std::log(10.0);
  double exponent = std::floor(decimal);
  double mantissa = std::pow(10.0, decimal - exponent);
  if (mantissa >= 9.995) {
    mantissa /= 10.0;
    exponent += 1.0;
  }
  return cformat("%.2fe%.0f", mantissa, exponent);
}

// Folds the capture's first split.samples samples into the sub-integrations, with the moments
// of their power for the noise.
void fold_subints(CaptureReader& capture, const FoldGeometry& geometry, const SubintSplit& split,
                  SubintTable& table, PowerMoments& moments) {
  Folder folder(geometry, FoldedValue::power, 0, true);
  for (std::int64_t k = 0; k < split.subints; ++k) {
    folder.restart(split.first(k));
    fold_capture(folder, capture, split.first(k + 1) - split.first(k));
    moments.add(folder);
    std::copy(folder.sums().begin(), folder.sums().end(), table.sums(k).begin());
    std::copy(folder.counts().begin(), folder.counts().end(), table.counts(k).begin());
  }
}

void write_search_table(OutputFile& file, const SearchResult& result) {
  std::string lines;
  for (const TrialResult& trial : result.trials) {
    const ProfileStatistics& s = trial.statistics;
    lines += cformat("%.12f   %.4f   %.6f   %.3f\n", trial.period_ms, s.chi2, s.reduced_chi2, s.peak_snr);
    if (lines.size() > (1u << 16)) {
      file.write(lines);
      lines.clear();
    }
  }
  file.write(lines);
}

}  // namespace

int run_cyclesearch(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded(kTool, out, err, [&] {
    const SearchOptions options = parse_options(args);
    if (options.help) {
      out << kHelp;
      return kExitSuccess;
    }
    const std::vector<std::string>& a = options.positional;
    if (a.size() != 7) {
      err << kCyclesearchUsage << '\n';
      return kExitFailure;
    }
    const std::string& infile = a[0];
    const std::string& outfile = a[1];
    auto capture = CaptureReader::open(infile);
    if (!capture) throw ToolError("Can't open file " + infile);

    const double clock_mhz = atof_value(a[2]);
    const std::int32_t bins = atoi32(a[3]);
    const double period_ms = atof_value(a[4]);
    const double span = atof_value(a[5]);
    const std::int64_t trials = atoll64(a[6]);
    const FoldGeometry geometry = fold_geometry(clock_mhz, bins, period_ms);
    if (!check_fold_points(kTool, bins, 2, a[3], err)) return kExitFailure;
    if (!check_fold_clock_and_period(kTool, geometry, clock_mhz, a[2], a[4], err)) return kExitFailure;
    if (!(std::isfinite(span) && span > 0.0 && span <= 0.5)) {
      refuse_parameter(err, kTool, "span", "a relative half-width above 0 and at most 0.5", a[5]);
      return kExitFailure;
    }
    if (trials < 1 || trials > kMaxTrials) {
      refuse_parameter(err, kTool, "trials", "from 1 to 100000", a[6]);
      return kExitFailure;
    }
    if (capture->length() < 0) throw ToolError("Can't measure the length of file " + infile);

    // The samples cyclestack folds: whole blocks of one sample per bin.
    const std::int64_t blocks = capture->length() / (2 * static_cast<std::int64_t>(bins));
    const std::int64_t samples = blocks * bins;
    if (!check_phase_range(kTool, a[4], geometry, samples, err)) return kExitFailure;
    const double periods = samples > 0 ? geometry.phase_value(samples) / bins : 0.0;
    if (periods < 1.0) {
      err << cformat("%s: the capture holds less than one period: %lld samples folded, one period is %.0f\n",
                     kTool, static_cast<long long>(samples), bins / geometry.res);
      return kExitFailure;
    }
    // The table and the drift tree over the sub-integrations rounded up to a power of two.
    const std::int64_t most_subints = std::min(
        samples, static_cast<std::int64_t>(std::bit_floor(static_cast<std::uint64_t>(kMaxSearchCells / bins))));
    SubintSplit split{samples, 1};
    if (options.subints) {
      require_option(*options.subints >= 1 && *options.subints <= most_subints, "--subints",
                     cformat("from 1 to %lld (bins x sub-integrations, these rounded up to a power of two, at most "
                             "%lld, and no more than the samples folded)",
                             static_cast<long long>(most_subints), static_cast<long long>(kMaxSearchCells)));
      split.subints = *options.subints;
    } else {
      split.subints = default_subints(geometry, samples, span);
      if (tree_slots(split.subints) > kMaxSearchCells / bins) {
        err << cformat("%s: sub-integrations: %lld are needed for a smear below one bin, but bins x "
                       "sub-integrations, these rounded up to a power of two, must stay at most %lld (128 MiB); "
                       "narrow the span, use fewer bins or give --subints\n",
                       kTool, static_cast<long long>(split.subints), static_cast<long long>(kMaxSearchCells));
        return kExitFailure;
      }
    }
    if (options.profile && *options.profile == outfile) {
      throw ToolError("option --profile must name another file than the table");
    }

    // Created before the scan, so that an output that cannot be written is reported at once;
    // each appears under its name only when complete.
    OutputFile table_file(outfile, {capture->id()});
    std::optional<OutputFile> profile_file;
    if (options.profile) profile_file.emplace(*options.profile, std::initializer_list<FileId>{capture->id()});

    const std::vector<double> periods_ms = trial_periods(period_ms, span, trials);
    const double step_ms = trials > 1 ? (periods_ms.back() - periods_ms.front()) / static_cast<double>(trials - 1) : 0.0;
    const double drift_ms = period_ms / (static_cast<double>(samples) * geometry.res);
    const double resolution_ms = std::max(step_ms / 2.0, drift_ms);
    // Cut, not rounded, to three decimals: a smear below one bin never shows as 1.000.
    const double smear_shown = std::floor(edge_smear_bins(geometry, split, span) * 1000.0) / 1000.0;
    out << cformat("No. Bytes = %lld   Samples=%lld   Periods=%.2f   Bins=%d   Sub-integrations=%lld\n",
                   static_cast<long long>(capture->length()), static_cast<long long>(samples), periods, bins,
                   static_cast<long long>(split.subints));
    out << cformat("Trials=%lld   From %.12f to %.12f ms   Step=%.3e ms   Resolution=%.3e ms   Smear=%.3f bins\n",
                   static_cast<long long>(trials), periods_ms.front(), periods_ms.back(), step_ms,
                   resolution_ms, smear_shown);
    out.flush();

    SubintTable table(bins, split.subints);
    PowerMoments moments;
    capture->show_progress(samples * 2);
    fold_subints(*capture, geometry, split, table, moments);
    const double mean = moments.mean();
    const double variance = moments.variance();
    ChunkWorkers workers(worker_thread_count());
    const SearchResult result = search_periods(table, geometry, split, periods_ms, mean, variance, &workers);

    write_search_table(table_file, result);
    table_file.commit();
    if (profile_file) {
      write_fold_table(*profile_file, result.best_profile.sums, result.best_profile.counts);
      profile_file->commit();
    }

    const TrialResult& best = result.trials[result.best];
    const ProfileStatistics& s = best.statistics;
    const OnPulse window = on_pulse(result.best_profile, mean, s.peak_bin);
    const double log_single = s.dof > 0 ? log_chi_square_tail(s.chi2, s.dof) : 0.0;
    const double log_search = log_any_of_trials(log_single, static_cast<double>(result.distinct));
    // Noise gives a chi-square this large more often than not: no evidence, 0 sigma rather than
    // the negative equivalent.
    const double sigma = std::max(0.0, gaussian_sigma(log_search));
    out << cformat("Noise: mean power %.6g per sample, variance %.6g (from the folded samples)\n", mean, variance);
    out << cformat("Best period=%.12f ms   chi2=%.4f   dof=%d   reduced chi2=%.6f   peak S/N=%.3f\n",
                   best.period_ms, s.chi2, s.dof, s.reduced_chi2, s.peak_snr);
    out << cformat("On-pulse phase %.3f to %.3f (peak at %.3f)\n", window.first_phase, window.last_phase,
                   window.peak_phase);
    out << cformat("Probability from noise=%s (best of %lld distinct trials)   Significance=%.2f sigma\n",
                   probability_text(log_search).c_str(), static_cast<long long>(result.distinct), sigma);
    out << cformat("%s (threshold %.2f sigma)\n", sigma >= options.threshold_sigma ? "detected" : "no detection",
                   options.threshold_sigma);
    out << cformat("\nInfile=%s    Outfile=%s\n", infile.c_str(), outfile.c_str());
    return kExitSuccess;
  });
}

}  // namespace iq
