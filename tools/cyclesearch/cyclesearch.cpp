// SPDX-License-Identifier: MIT
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
#include <tuple>
#include <vector>

#include "barycentre_report.hpp"
#include "dm_trials.hpp"
#include "trial_count.hpp"
#include "astro/sky.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"
#include "dsp/dispersion.hpp"
#include "dsp/folding.hpp"
#include "dsp/period_search.hpp"
#include "dsp/series_fold.hpp"
#include "flow/capture_channels.hpp"
#include "dsp/significance.hpp"
#include "flow/fold_run.hpp"
#include "io/capture_reader.hpp"
#include "io/capture_metadata.hpp"
#include "io/output_file.hpp"
#include "io/sigproc_header.hpp"
#include "io/pulsar_files.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "runs/fold_tool.hpp"
#include "runs/spectrum_rows.hpp"

namespace iq {

namespace {

constexpr const char* kCyclesearchUsage =
    "Usage: cyclesearch <capture> <table> <clock rate (MHz)> <bins> <period (ms)> <span> <trials> "
    "[--subints N] [--threshold SIGMA] [--profile FILE]   (cyclesearch -h explains)";

constexpr const char* kTool = "cyclesearch";

// Trials a search takes at most (the table keeps one line each).
constexpr std::int64_t kMaxTrials = 100000;

std::vector<OptionSpec> search_option_list() {
  std::vector<OptionSpec> options = {
      {.name = "--subints",
       .argument = "N",
       .help = "sub-integrations (default: enough that the pulse drifts less than\n"
               "one bin across one of them at the edge of the span)"},
      {.name = "--threshold", .argument = "SIGMA", .help = "significance that counts as a detection (default 5)"},
      {.name = "--profile", .argument = "FILE", .help = "the best trial's profile, in cyclestack's table layout"},
      {.name = "--channels",
       .argument = "N",
       .help = "cuts a capture into N channels (a power of two from 2 to 8192), one\nsample per frame of N "
               "points, for --dm"},
      {.name = "--centre",
       .argument = "MHZ",
       .help = "the capture's tuned frequency for --channels (instead of the\nmetadata's)"},
      {.name = "--dm",
       .argument = "DM|FROM:TO[:STEP]",
       .help = "dedisperses a filterbank's channels (.fil) at DM pc cm^-3 before\nfolding, or at each "
               "trial DM of a range (default step: one sample\nacross the band)"}};
  for (const OptionSpec& option : barycentre_options()) options.push_back(option);
  return options;
}

const Command kCommand{
    .tool = kTool,
    .usage = kCyclesearchUsage,
    .summary =
        "Folds the power of every sample once, at the nominal period, into sub-integrations, then\n"
        "forms the profile at each of <trials> periods from period * (1 - span) to\n"
        "period * (1 + span) by shifting and adding them. The table has one line per trial: period\n"
        "(ms), chi-square of the profile against its mean, reduced chi-square, peak S/N. The\n"
        "console names the best trial, its on-pulse phase and its significance. <capture> may also be\n"
        "a pulsar file (SIGPROC .fil or .tim, PRESTO .dat with its .inf), whose header gives the\n"
        "sample time: the clock rate is then given as -. With the site (--site, or a capture's SigMF\n"
        "metadata) and the source (--radec, or the file's header) the best period and the epoch are\n"
        "referred to the barycentre too.",
    .parameters = {text_parameter("capture"), text_parameter("table"),
                   number_parameter("clock rate (MHz)", "MHz", kFoldClock.range),
                   whole_parameter("bins", 2, kMaxFoldPoints),
                   number_parameter("period (ms)", "ms", kFoldPeriod.range),
                   number_parameter("span", "", "a relative half-width above 0 and at most 0.5"),
                   whole_parameter("trials", 1, kMaxTrials)},
    .options = search_option_list(),
    .usage_on_console = false,
};

struct SearchOptions {
  std::optional<std::int64_t> subints;
  double threshold_sigma = 5.0;
  std::optional<std::string> profile;
};

SearchOptions search_options(const Run& run) {
  SearchOptions options;
  const GivenOptions& given = run.options();
  if (const auto subints = given.value("--subints")) options.subints = option_whole("--subints", *subints);
  if (const auto threshold = given.value("--threshold")) {
    options.threshold_sigma = option_number("--threshold", *threshold);
    require_option(options.threshold_sigma > 0.0, "--threshold", "a significance above 0 sigma");
  }
  options.profile = given.value("--profile");
  require_option(!options.profile || !options.profile->empty(), "--profile", "a file name");
  if (options.profile && *options.profile == run.text(1)) {
    throw ToolError("option --profile must name another file than the table");
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

// Folds the first split.samples samples of a pulsar file's series into the sub-integrations,
// with the moments of their values for the noise.
void fold_series_subints(PulsarSamples& samples, const FoldGeometry& geometry, const SubintSplit& split,
                         SubintTable& table, SeriesMoments& moments) {
  constexpr std::int64_t kChunk = 1 << 16;
  std::vector<double> values;
  for (std::int64_t k = 0; k < split.subints; ++k) {
    for (std::int64_t s = split.first(k); s < split.first(k + 1); s += kChunk) {
      values.resize(static_cast<std::size_t>(std::min(kChunk, split.first(k + 1) - s)));
      samples.read(values);
      moments.add(values);
      fold_series(geometry, s, values, table.sums(k), table.counts(k));
    }
  }
}

// ln of the probability that noise gives the best trial's chi-square in one of `trials`
// independent trials.
double log_search_probability(const SearchResult& result, std::int64_t trials) {
  const ProfileStatistics& s = result.trials[result.best].statistics;
  const double log_single = s.dof > 0 ? log_chi_square_tail(s.chi2, s.dof) : 0.0;
  return log_any_of_trials(log_single, static_cast<double>(trials));
}

// The table's first line: the best trial, its significance, the chi-square of the threshold and
// the verdict, as the console states them, for a reader that draws the table.
std::string search_header(const SearchResult& result, double threshold_sigma, std::int64_t trials) {
  const ProfileStatistics& s = result.trials[result.best].statistics;
  const double sigma = std::max(0.0, gaussian_sigma(log_search_probability(result, trials)));
  const double threshold_chi2 =
      s.dof > 0 ? chi_square_at_sigma(threshold_sigma, s.dof, static_cast<double>(trials)) : INFINITY;
  std::string header =
      cformat("# cyclesearch best_period_ms=%.12f chi2=%.4f significance_sigma=%.2f threshold_sigma=%.2f",
              result.trials[result.best].period_ms, s.chi2, sigma, threshold_sigma);
  if (std::isfinite(threshold_chi2)) header += cformat(" threshold_chi2=%.4f", threshold_chi2);
  return header + (sigma >= threshold_sigma ? " verdict=detected\n" : " verdict=no-detection\n");
}

// Said in the console and as a header line of the table when the best trial lies at an edge.
constexpr const char* kEdgeWarning =
    "best trial at the edge of the span: the period may lie outside the span; widen it";

void write_search_table(OutputFile& file, const SearchResult& result, double threshold_sigma, std::int64_t trials,
                        const std::string& more_header) {
  std::string lines = search_header(result, threshold_sigma, trials) + more_header;
  if (result.best_at_edge) lines += cformat("# warning: %s\n", kEdgeWarning);
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

// What the command line and the capture's length decide before the scan.
struct SearchPlan {
  FoldGeometry geometry;
  double period_ms = 0.0;
  double span = 0.0;
  std::int64_t trials = 0;
  std::int64_t samples = 0;  // whole blocks of one sample per bin, as cyclestack folds them
  double periods = 0.0;
  double clock_mhz = 0.0;
  SubintSplit split{0, 1};
};

// What is searched: a capture's power per sample, or the series of a pulsar file, whose header
// gives the sample time.
struct SearchInput {
  CaptureReader reader;  // the capture, or the file of the pulsar file's samples
  std::optional<PulsarHeader> header;
  std::vector<double> dms;                        // --dm's trials (none: no dedispersion)
  std::vector<std::vector<std::int64_t>> shifts;  // per DM trial, the channels' delays in samples
  bool channelised = false;                       // a capture cut into channels by --channels
  std::optional<CaptureMetadata> metadata;        // a capture's, read once when first needed
  ChannelRows rows() {
    return channelised ? capture_channel_rows(reader, header->nchans) : file_rows(reader, *header);
  }
  // The samples every DM trial holds: the file's less the largest delay.
  std::int64_t samples() const {
    std::int64_t most = 0;
    for (const auto& delays : shifts) most = std::max(most, *std::max_element(delays.begin(), delays.end()));
    return std::max<std::int64_t>(0, header->samples - most);
  }
};

// The capture's SigMF metadata (what it lacks, or why it is ignored, said once on the console).
const CaptureMetadata& capture_metadata(const Run& run, SearchInput& input) {
  if (!input.metadata) input.metadata = read_capture_metadata(run.text(0), kTool, run.err());
  return *input.metadata;
}

// A capture cut into --channels channels, one sample per frame: the header the metadata, --centre
// and the clock rate give.
void channelise(const Run& run, SearchInput& input) {
  const std::int64_t channels = option_whole("--channels", *run.options().value("--channels"));
  require_option(channels >= 2 && channels <= 8192 && std::has_single_bit(static_cast<std::uint64_t>(channels)),
                 "--channels", "a power of two from 2 to 8192");
  const double rate_mhz = run.number(2);
  if (!(rate_mhz > 0.0)) run.refuse(2);
  const CaptureMetadata& meta = capture_metadata(run, input);
  std::optional<double> centre_hz = meta.centre_frequency_hz;
  if (const auto centre = run.options().value("--centre")) centre_hz = option_number("--centre", *centre) * 1e6;
  if (!centre_hz) {
    throw ToolError(
        "option --channels needs the centre frequency: give --centre MHZ or keep it in the capture's "
        "SigMF metadata");
  }
  PulsarHeader header;
  header.format = "channelised capture";
  header.data_path = run.text(0);
  header.nchans = static_cast<std::int32_t>(channels);
  header.samples = whole_frames(input.reader, header.nchans);
  header.tsamp_s = static_cast<double>(channels) / (rate_mhz * 1e6);
  const ChannelFrequencies frequencies = channel_frequencies(*centre_hz, rate_mhz * 1e6, header.nchans);
  header.fch1_mhz = frequencies.fch1_mhz;
  header.foff_mhz = frequencies.foff_mhz;
  if (const auto start = meta.datetime_utc ? parse_utc(*meta.datetime_utc) : std::nullopt) {
    header.tstart_mjd = modified_julian_date(start->jd1, start->jd2);
  }
  input.header = header;
  input.channelised = true;
}

// The DM trials of --dm and their channel delays.
void plan_dispersion(const GivenOptions& given, SearchInput& input) {
  const auto text = given.value("--dm");
  if (!text) return;
  if (!input.header || input.header->nchans < 2) {
    throw ToolError("option --dm needs channels: a filterbank (.fil), or a capture with --channels N");
  }
  const PulsarHeader& h = *input.header;
  input.dms = dm_trials(*text, h);
  for (const double dm : input.dms)
    input.shifts.push_back(channel_shifts(dm, h.fch1_mhz, h.foff_mhz, h.nchans, h.tsamp_s));
}

constexpr const char* kClockFromHeader =
    "the clock rate '-' is for the pulsar files (.fil, .tim, .dat with .inf), whose header gives the sample time";

SearchInput open_search_input(const Run& run) {
  const std::string& infile = run.text(0);
  std::optional<PulsarHeader> header;
  if (is_pulsar_file_name(infile)) {
    header = read_pulsar_header(infile);
    if (run.text(2) != "-") {
      throw ToolError(cformat("the sample time of %s comes from its header (%.9g s): give the clock rate as -",
                              infile.c_str(), header->tsamp_s));
    }
  } else if (run.text(2) == "-") {
    throw ToolError(kClockFromHeader);
  }
  const std::string& path = header ? header->data_path : infile;
  std::string why;
  auto reader = CaptureReader::open(path, CaptureReader::kDefaultBufferBytes, &why);
  if (!reader) throw ToolError("Can't open file " + path + ": " + why);
  if (reader->length() < 0) throw ToolError("Can't measure the length of file " + reader->path());
  SearchInput input{std::move(*reader), header, {}, {}, false, {}};
  if (run.options().has("--channels")) {
    if (header) throw ToolError("option --channels is for captures: " + infile + " is a " + header->format);
    channelise(run, input);
  }
  plan_dispersion(run.options(), input);
  return input;
}

// The numbers of the command line; a pulsar file's clock is its header's.
double checked_clock(const Run& run, const SearchInput& input) {
  if (!input.header) {
    run.convert_numbers();
    return run.number(2);
  }
  for (std::size_t k = 3; k < 7; ++k) {
    if (k == 4 || k == 5) {
      run.number(k);
    } else {
      run.whole(k);
    }
  }
  return 1e-6 / input.header->tsamp_s;
}

SearchPlan plan_geometry(const Run& run, const SearchInput& input) {
  SearchPlan plan;
  const double clock_mhz = checked_clock(run, input);
  const std::int32_t bins = run.whole32(3);
  plan.period_ms = run.number(4);
  plan.geometry = fold_geometry(clock_mhz, bins, plan.period_ms);
  check_fold_clock_and_period(plan.geometry, clock_mhz, input.header ? cformat("%.17g", clock_mhz) : run.text(2),
                              run.text(4));
  plan.span = run.number(5);
  if (!(std::isfinite(plan.span) && plan.span > 0.0 && plan.span <= 0.5)) run.refuse(5);
  plan.trials = run.whole(6);
  plan.clock_mhz = clock_mhz;
  plan.samples = input.header ? input.samples() : input.reader.length() / (2 * std::int64_t{bins}) * bins;
  check_phase_range(run.text(4), plan.geometry, plan.samples);
  plan.periods = plan.samples > 0 ? plan.geometry.phase_value(plan.samples) / bins : 0.0;
  if (plan.periods < 1.0) {
    throw ToolError(cformat("the %s holds less than one period: %lld samples folded, one period is %.0f",
                            input.header ? "file" : "capture", static_cast<long long>(plan.samples),
                            bins / plan.geometry.res));
  }
  return plan;
}

// The sub-integrations: as given, or enough for a smear below one bin; the table and the drift
// tree over them (rounded up to a power of two) must fit kMaxSearchCells.
std::int64_t plan_subints(const SearchPlan& plan, const SearchOptions& options) {
  const std::int32_t bins = plan.geometry.points;
  const std::int64_t most_subints = std::min(
      plan.samples, static_cast<std::int64_t>(std::bit_floor(static_cast<std::uint64_t>(kMaxSearchCells / bins))));
  if (options.subints) {
    require_option(*options.subints >= 1 && *options.subints <= most_subints, "--subints",
                   cformat("from 1 to %lld (bins x sub-integrations, these rounded up to a power of two, at most "
                           "%lld, and no more than the samples folded)",
                           static_cast<long long>(most_subints), static_cast<long long>(kMaxSearchCells)));
    return *options.subints;
  }
  const std::int64_t subints = default_subints(plan.geometry, plan.samples, plan.span);
  if (tree_slots(subints) > kMaxSearchCells / bins) {
    throw ToolError(
        cformat("sub-integrations: %lld are needed for a smear below one bin, but bins x "
                "sub-integrations, these rounded up to a power of two, must stay at most %lld (128 MiB); "
                "narrow the span, use fewer bins or give --subints",
                static_cast<long long>(subints), static_cast<long long>(kMaxSearchCells)));
  }
  return subints;
}

// The period change by which the pulse drifts one bin over the samples searched: trials closer
// than this are not independent.
double period_resolution_ms(const SearchPlan& plan) {
  return plan.period_ms / (static_cast<double>(plan.samples) * plan.geometry.res);
}

void print_plan(std::ostream& out, const SearchPlan& plan, const std::vector<double>& periods_ms,
                std::int64_t length) {
  const std::int64_t trials = plan.trials;
  const double step_ms =
      trials > 1 ? (periods_ms.back() - periods_ms.front()) / static_cast<double>(trials - 1) : 0.0;
  const double resolution_ms = std::max(step_ms / 2.0, period_resolution_ms(plan));
  // Cut, not rounded, to three decimals: a smear below one bin never shows as 1.000.
  const double smear_shown = std::floor(edge_smear_bins(plan.geometry, plan.split, plan.span) * 1000.0) / 1000.0;
  out << cformat("No. Bytes = %lld   Samples=%lld   Periods=%.2f   Bins=%d   Sub-integrations=%lld\n",
                 static_cast<long long>(length), static_cast<long long>(plan.samples), plan.periods,
                 plan.geometry.points, static_cast<long long>(plan.split.subints));
  out << cformat("Trials=%lld   From %.12f to %.12f ms   Step=%.3e ms   Resolution=%.3e ms   Smear=%.3f bins\n",
                 static_cast<long long>(trials), periods_ms.front(), periods_ms.back(), step_ms, resolution_ms,
                 smear_shown);
  out.flush();
}

void print_verdict(std::ostream& out, const SearchResult& result, double mean, double variance,
                   double threshold_sigma, std::int64_t trials) {
  const TrialResult& best = result.trials[result.best];
  const ProfileStatistics& s = best.statistics;
  const OnPulse window = on_pulse(result.best_profile, mean, s.peak_bin);
  const double log_search = log_search_probability(result, trials);
  // Noise gives a chi-square this large more often than not: no evidence, 0 sigma rather than
  // the negative equivalent.
  const double sigma = std::max(0.0, gaussian_sigma(log_search));
  out << cformat("Noise: mean power %.6g per sample, variance %.6g (from the folded samples)\n", mean, variance);
  out << cformat("Best period=%.12f ms   chi2=%.4f   dof=%d   reduced chi2=%.6f   peak S/N=%.3f\n", best.period_ms,
                 s.chi2, s.dof, s.reduced_chi2, s.peak_snr);
  out << cformat("On-pulse phase %.3f to %.3f (peak at %.3f)\n", window.first_phase, window.last_phase,
                 window.peak_phase);
  out << cformat("Probability from noise=%s (best of %lld independent trials)   Significance=%.2f sigma\n",
                 probability_text(log_search).c_str(), static_cast<long long>(trials), sigma);
  out << cformat("%s (threshold %.2f sigma)\n", sigma >= threshold_sigma ? "detected" : "no detection",
                 threshold_sigma);
  if (result.best_at_edge) out << "Warning: " << kEdgeWarning << '\n';
}

void print_dedispersion(std::ostream& out, const SearchInput& input, const std::string& dm) {
  const std::int64_t most = input.header->samples - input.samples();
  const double most_ms = static_cast<double>(most) * input.header->tsamp_s * 1e3;
  if (input.dms.size() == 1) {
    out << cformat("Dedispersed at DM %s pc cm^-3: channels delayed by up to %lld samples (%.6f ms)\n", dm.c_str(),
                   static_cast<long long>(most), most_ms);
    return;
  }
  out << cformat(
      "Dedispersed at %zu DMs from %.4f to %.4f pc cm^-3: channels delayed by up to %lld samples (%.6f "
      "ms)\n",
      input.dms.size(), input.dms.front(), input.dms.back(), static_cast<long long>(most), most_ms);
}

// The start and the source a pulsar file's header gives, or the site, start and pointing in a
// capture's metadata.
std::optional<BarycentreRequest> barycentre_of(const Run& run, SearchInput& input) {
  SourceDefaults defaults;
  if (input.header) {
    if (input.header->tstart_mjd) defaults.start = utc_of_mjd(*input.header->tstart_mjd);
    if (input.header->ra_deg && input.header->dec_deg) {
      defaults.source = Equatorial{*input.header->ra_deg, *input.header->dec_deg};
    }
  }
  const bool capture = !input.header || input.channelised;
  if (capture && barycentre_needs_metadata(run.options())) {
    const CaptureMetadata& meta = capture_metadata(run, input);
    defaults.capture = observation_defaults(meta);
    if (!defaults.source && meta.pointing)
      defaults.source = Equatorial{meta.pointing->ra_deg, meta.pointing->dec_deg};
  }
  return barycentre_request(run.options(), defaults);
}

// Folds the samples into the sub-integrations: their mean and variance.
std::pair<double, double> fold_input(SearchInput& input, const SearchPlan& plan, SubintTable& table,
                                     std::size_t dm_trial) {
  if (input.header) {
    SeriesMoments moments;
    PulsarSamples samples(input.rows(), *input.header,
                          input.shifts.empty() ? std::vector<std::int64_t>() : input.shifts[dm_trial]);
    fold_series_subints(samples, plan.geometry, plan.split, table, moments);
    return {moments.mean(), moments.variance()};
  }
  PowerMoments moments;
  input.reader.show_progress(plan.samples * 2);
  fold_subints(input.reader, plan.geometry, plan.split, table, moments);
  return {moments.mean(), moments.variance()};
}

// The search at one DM trial (the only one without --dm).
struct DmSearch {
  double dm = 0.0;
  SearchResult result;
  double mean = 0.0, variance = 0.0;
  double chi2() const { return result.trials[result.best].statistics.chi2; }
};

std::vector<DmSearch> search_every_dm(SearchInput& input, const SearchPlan& plan,
                                      const std::vector<double>& periods_ms, std::ostream& out) {
  std::vector<DmSearch> searches;
  ChunkWorkers workers(worker_thread_count());
  for (std::size_t k = 0; k < std::max<std::size_t>(1, input.dms.size()); ++k) {
    DmSearch search;
    search.dm = input.dms.empty() ? 0.0 : input.dms[k];
    SubintTable table(plan.geometry.points, plan.split.subints);
    std::tie(search.mean, search.variance) = fold_input(input, plan, table, k);
    search.result =
        search_periods(table, plan.geometry, plan.split, periods_ms, search.mean, search.variance, &workers);
    if (input.dms.size() > 1) {
      out << cformat("DM=%.4f   best period=%.12f ms   chi2=%.4f\n", search.dm,
                     search.result.trials[search.result.best].period_ms, search.chi2());
    }
    searches.push_back(std::move(search));
  }
  return searches;
}

// The DM trial of largest chi-square.
DmSearch best_of(const std::vector<DmSearch>& searches) {
  return *std::max_element(searches.begin(), searches.end(),
                           [](const DmSearch& a, const DmSearch& b) { return a.chi2() < b.chi2(); });
}

// The independent trials of the search: the period resolution elements that the trials span,
// times the DM trials whose delays across the band differ by at least one bin.
std::int64_t search_trials(const SearchPlan& plan, const SearchInput& input, const std::vector<double>& periods_ms,
                           const SearchResult& result) {
  std::int64_t trials =
      independent_trials(periods_ms.front(), periods_ms.back(), period_resolution_ms(plan), result.distinct);
  if (input.dms.size() > 1) {
    const double bin_s = plan.period_ms * 1e-3 / plan.geometry.points;
    trials *= independent_trials(input.dms.front(), input.dms.back(), dm_step_for(*input.header, bin_s),
                                 static_cast<std::int64_t>(input.dms.size()));
  }
  return trials;
}

void write_dm_table(OutputFile& file, const std::vector<DmSearch>& searches, const DmSearch& best,
                    double threshold_sigma, std::int64_t trials, const std::string& more_header) {
  std::string lines = search_header(best.result, threshold_sigma, trials) + more_header;
  lines += cformat("# best_dm=%.4f dm_trials=%zu; a line: DM, period (ms), chi2, reduced chi2, peak S/N\n",
                   best.dm, searches.size());
  for (const DmSearch& search : searches) {
    for (const TrialResult& trial : search.result.trials) {
      const ProfileStatistics& s = trial.statistics;
      lines += cformat("%.4f   %.12f   %.4f   %.6f   %.3f\n", search.dm, trial.period_ms, s.chi2, s.reduced_chi2,
                       s.peak_snr);
    }
    file.write(lines);
    lines.clear();
  }
}

int search_run(Run& run) {
  const SearchOptions options = search_options(run);
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  SearchInput input = open_search_input(run);
  const std::optional<BarycentreRequest> barycentre = barycentre_of(run, input);
  SearchPlan plan = plan_geometry(run, input);
  plan.split = SubintSplit{plan.samples, plan_subints(plan, options)};

  // Created before the scan, so that an output that cannot be written is reported at once;
  // each appears under its name only when complete.
  const FileId input_id = input.reader.id();
  OutputFile table_file(outfile, {input_id});
  std::optional<OutputFile> profile_file;
  if (options.profile) profile_file.emplace(*options.profile, std::initializer_list<FileId>{input_id});

  const std::vector<double> periods_ms = trial_periods(plan.period_ms, plan.span, plan.trials);
  if (!input.dms.empty()) print_dedispersion(run.out(), input, *run.options().value("--dm"));
  print_plan(run.out(), plan, periods_ms, input.reader.length());
  const std::vector<DmSearch> searches = search_every_dm(input, plan, periods_ms, run.out());
  const DmSearch best = best_of(searches);
  const SearchResult& result = best.result;
  const std::int64_t trials = search_trials(plan, input, periods_ms, result);

  const double best_ms = result.trials[result.best].period_ms;
  std::optional<BarycentricResult> barycentric;
  if (barycentre) {
    const double seconds = static_cast<double>(plan.samples) / (plan.clock_mhz * 1e6);
    barycentric = barycentric_result(*barycentre, best_ms, seconds);
  }
  const std::string more_header = barycentric ? barycentric_header(*barycentric) : std::string();
  if (searches.size() > 1) {
    write_dm_table(table_file, searches, best, options.threshold_sigma, trials, more_header);
  } else {
    write_search_table(table_file, result, options.threshold_sigma, trials, more_header);
  }
  table_file.commit();
  if (profile_file) {
    write_fold_table(*profile_file, result.best_profile.sums, result.best_profile.counts);
    profile_file->commit();
  }
  print_verdict(run.out(), result, best.mean, best.variance, options.threshold_sigma, trials);
  if (searches.size() > 1) {
    run.out() << cformat("Best DM=%.4f pc cm^-3   chi2=%.4f   (at DM %.4f: chi2=%.4f)\n", best.dm, best.chi2(),
                         searches.front().dm, searches.front().chi2());
  }
  if (barycentric) print_barycentric(run.out(), *barycentric, best_ms);
  run.out() << cformat("\nInfile=%s    Outfile=%s\n", infile.c_str(), outfile.c_str());
  return kExitSuccess;
}

}  // namespace

int run_cyclesearch(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, search_run);
}

}  // namespace iq
