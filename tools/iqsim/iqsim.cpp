// SPDX-License-Identifier: MIT
// iqsim: command line of the synthetic capture program.
#include "iqsim.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "astro/observation_options.hpp"
#include "cli/command.hpp"
#include "io/capture_metadata.hpp"
#include "time/clock.hpp"
#include "io/output_file.hpp"
#include "io/progress_meter.hpp"
#include "io/text_format.hpp"
#include "sky_generator.hpp"
#include "spectral_lines.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kIqsimUsage = "Usage: iqsim <capture file> [options]   (iqsim -h lists the options)";

const Command kCommand{
    .tool = "iqsim",
    .usage = kIqsimUsage,
    .summary =
        "Writes a synthetic capture: interleaved unsigned 8-bit I and Q samples around the zero\n"
        "level 127.5, quantised and clipped like an 8-bit converter. Deterministic for a seed.\n"
        "The capture's rate, centre and start go into a SigMF metadata file beside it (the\n"
        "capture's name with .bin replaced by, or else followed by, .sigmf-meta). \"-\" writes the\n"
        "capture to standard output, a pipe to another program, without metadata. --site and a\n"
        "--radec or --galactic pointing go into the metadata too. A --line is a tone at a radial\n"
        "velocity in the --frame, placed at the topocentric frequency that the site, pointing and\n"
        "middle of the capture give; a pulse of --pulse-frame bary arrives at the period they give.",
    .parameters = {text_parameter("capture file")},
    .options =
        {{.name = "--rate", .alias = "-r", .argument = "MHZ", .help = "complex sample rate in MHz (default 2.4)"},
         {.name = "--samples",
          .alias = "-n",
          .argument = "COUNT",
          .help = "number of complex samples (default 2400000)"},
         {.name = "--seconds", .alias = "-t", .argument = "SECONDS", .help = "duration instead of a sample count"},
         {.name = "--seed",
          .alias = "-s",
          .argument = "SEED",
          .help = "seed of the sky's random sequence (default 1)"},
         {.name = "--noise",
          .argument = "SIGMA",
          .help = "sky noise, standard deviation per component in converter\nsteps (default 10)"},
         {.name = "--tone",
          .argument = "HZ[,AMPLITUDE[,DRIFT]]",
          .help =
              "a tone at a frequency offset in Hz (negative allowed), peak\namplitude in steps (default 20), its "
              "offset drifting by DRIFT\nHz per second (default 0); may be repeated"},
         {.name = "--pulse-period",
          .argument = "MS",
          .help = "a periodic pulse of extra noise power with this period"},
         {.name = "--pulse-duty",
          .argument = "FRACTION",
          .help = "fraction of the period the pulse is on (default 0.1)"},
         {.name = "--pulse-strength",
          .argument = "RATIO",
          .help = "extra noise power while on, relative to the noise (default 1)"},
         {.name = "--pulse-phase",
          .argument = "FRACTION",
          .help = "where in the period the pulse starts (default 0)"},
         {.name = "--pulse-dm",
          .argument = "DM",
          .help = "disperses the pulse at DM pc cm^-3 (0 .. 10000): each frequency of\nthe band receives it "
                  "later than the highest by the cold-plasma\ndelay; needs --centre"},
         {.name = "--pulse-frame",
          .argument = "topo|bary",
          .help = "the frame of --pulse-period: topo, as the site receives it (default),\nor bary, at the "
                  "solar-system barycentre: the site then receives it\nshifted by its velocity toward the "
                  "pointing at mid-capture; needs\nthe site and a pointing (the time: --start, or now)"},
         {.name = "--delay",
          .argument = "SAMPLES",
          .help = "this receiver sees the sky SAMPLES later (a second receiver\nof the same sky: same seed, "
                  "another delay)"},
         {.name = "--rx-noise", .argument = "SIGMA", .help = "this receiver's own noise in steps (default 0)"},
         {.name = "--rx-seed", .argument = "SEED", .help = "seed of the receiver's own noise (default 2)"},
         {.name = "--passband",
          .argument = "PERCENT[,CYCLES]",
          .help =
              "the receiver's gain across the band: its power rises and falls\nby PERCENT (0 .. 100, peak to "
              "trough) in CYCLES ripples (1 ..\n1000, default 1: a gentle slope through the middle of the band)"},
         {.name = "--centre",
          .argument = "MHZ",
          .help = "the frequency the receiver is tuned to, for the metadata"},
         {.name = "--start",
          .argument = "TIME",
          .help = "the capture's start for the metadata, UTC, as\n2026-12-07T01:30:00Z (default now)"},
         {.name = "--line",
          .argument = "KM_S[,AMPLITUDE[,DRIFT]]",
          .help =
              "a spectral line at this radial velocity (radio convention) in the\n--frame (default topo) at "
              "the middle of the capture, a tone of\nAMPLITUDE steps (default 20) drifting DRIFT Hz per second; "
              "needs\n--centre, and for bary or lsrk the site and a pointing (the time:\n--start, or now); may be "
              "repeated"},
         {.name = "--rest",
          .argument = "MHZ",
          .help = "the lines' rest frequency (default 1420.405751768, the hydrogen\nline)"},
         {.name = "--force", .alias = "-f", .help = "replace the capture file if it exists"}},
    .usage_on_console = false,
};

// The options above with the frame, site and pointing of the lines; the site also goes into
// the metadata.
const Command kSimCommand = with_frame_options(kCommand);

// The largest dispersion measure a pulse takes, pc cm^-3 (above every known pulsar's).
constexpr double kMostPulseDm = 10000.0;

// The metadata's rate and centre within what SigMF readers take: from 1 Hz and to 1 THz.
constexpr double kLeastRateMhz = 1e-6;
constexpr double kMostMhz = 1e6;

constexpr std::int64_t kChunkBytes = std::int64_t{1} << 20;
constexpr std::int64_t kMaxDelay = 2147483647;

struct SimOptions {
  std::string capture;
  SkySettings sky;
  std::optional<double> centre_mhz;
  std::string start;  // the capture's start, UTC: --start or the time of the run
  std::optional<Site> site;
  std::optional<Equatorial> pointing;  // --radec or --galactic, for the metadata
  std::vector<LineRequest> lines;
  double rest_mhz = kHydrogenRestMhz;
  std::int64_t samples = 2400000;
  std::optional<double> seconds;
  bool force = false;
};

// "PLACE[,AMPLITUDE[,DRIFT]]": a tone's offset in Hz (--tone) or a line's velocity (--line),
// with the amplitude and drift the two share.
Tone parse_tone(std::string_view option, const std::string& text, std::string_view form) {
  Tone tone;
  const auto comma = text.find(',');
  tone.offset_hz = option_number(option, text.substr(0, comma));
  std::string rest = comma == std::string::npos ? "" : text.substr(comma + 1);
  const auto second_comma = rest.find(',');
  if (comma != std::string::npos) tone.amplitude = option_number(option, rest.substr(0, second_comma));
  if (second_comma != std::string::npos)
    tone.drift_hz_per_s = option_number(option, rest.substr(second_comma + 1));
  require_option(tone.amplitude >= 0.0, option, std::string(form) + " with an amplitude of 0 or more");
  return tone;
}

Passband parse_passband(const std::string& text) {
  Passband passband;
  const auto comma = text.find(',');
  const double percent = option_number("--passband", text.substr(0, comma));
  require_option(percent >= 0.0 && percent <= 100.0, "--passband",
                 "PERCENT[,CYCLES] with a percentage from 0 to 100");
  passband.depth = percent / 100.0;
  if (comma != std::string::npos) {
    const std::int64_t cycles = option_whole("--passband", text.substr(comma + 1));
    require_option(cycles >= 1 && cycles <= kMaxPassbandCycles, "--passband",
                   "PERCENT[,CYCLES] with 1 to 1000 cycles");
    passband.cycles = static_cast<int>(cycles);
  }
  return passband;
}

// A number option, when given, checked against its range.
void number_option(const GivenOptions& given, std::string_view name, double& value, bool (*fits)(double),
                   std::string_view range) {
  if (const auto text = given.value(name)) {
    value = option_number(name, *text);
    require_option(fits(value), name, range);
  }
}

void sky_pulse_options(const GivenOptions& given, Pulse& pulse) {
  number_option(
      given, "--pulse-period", pulse.period_ms, [](double v) { return v > 0.0; }, "a period above 0 ms");
  number_option(
      given, "--pulse-duty", pulse.duty, [](double v) { return v > 0.0 && v <= 1.0; },
      "a fraction above 0 and at most 1");
  number_option(
      given, "--pulse-strength", pulse.strength, [](double v) { return v >= 0.0; }, "a power ratio of 0 or more");
  number_option(
      given, "--pulse-phase", pulse.phase, [](double v) { return v >= 0.0 && v < 1.0; },
      "a fraction from 0 up to (not including) 1");
}

SkySettings sky_options(const GivenOptions& given) {
  SkySettings sky;
  const auto at_least_zero = [](double v) { return v >= 0.0; };
  number_option(
      given, "--rate", sky.rate_mhz, [](double v) { return v >= kLeastRateMhz && v <= kMostMhz; },
      "a rate from 0.000001 to 1000000 MHz");
  if (const auto seed = given.value("--seed"))
    sky.seed = static_cast<std::uint64_t>(option_whole("--seed", *seed));
  number_option(given, "--noise", sky.noise, at_least_zero, "a standard deviation of 0 or more");
  for (const std::string& tone : given.values("--tone")) {
    sky.tones.push_back(parse_tone("--tone", tone, "HZ[,AMPLITUDE[,DRIFT]]"));
  }
  sky_pulse_options(given, sky.pulse);
  if (const auto delay = given.value("--delay")) {
    // An early receiver first runs through |delay| samples of the sky: bounded, so that
    // the run ends in seconds and the delay can be negated.
    sky.delay = option_whole("--delay", *delay);
    require_option(sky.delay >= -kMaxDelay && sky.delay <= kMaxDelay, "--delay",
                   "a delay from -2147483647 to 2147483647 samples");
  }
  number_option(given, "--rx-noise", sky.receiver_noise, at_least_zero, "a standard deviation of 0 or more");
  if (const auto seed = given.value("--rx-seed")) {
    sky.receiver_seed = static_cast<std::uint64_t>(option_whole("--rx-seed", *seed));
  }
  if (const auto passband = given.value("--passband")) sky.passband = parse_passband(*passband);
  return sky;
}

void line_options(const GivenOptions& given, SimOptions& options) {
  for (const std::string& text : given.values("--line")) {
    const Tone fields = parse_tone("--line", text, "KM_S[,AMPLITUDE[,DRIFT]]");
    options.lines.push_back({fields.offset_hz, fields.amplitude, fields.drift_hz_per_s});
  }
  if (const auto rest = given.value("--rest")) {
    options.rest_mhz = option_number("--rest", *rest);
    require_option(options.rest_mhz > 0.0 && options.rest_mhz <= kMostMhz, "--rest",
                   "a rest frequency above 0 and up to 1000000 MHz");
  }
  if (options.lines.empty()) {
    if (given.has("--frame"))
      throw ToolError("option --frame names the frame of --line's velocities: give --line");
    return;
  }
  if (!options.centre_mhz) throw ToolError("option --line needs --centre: a line is placed against the tuning");
}

// --pulse-dm: the pulse dispersed across the band around --centre.
void pulse_dm_option(const GivenOptions& given, SimOptions& options) {
  const auto text = given.value("--pulse-dm");
  if (!text) return;
  Pulse& pulse = options.sky.pulse;
  pulse.dm = option_number("--pulse-dm", *text);
  require_option(pulse.dm >= 0.0 && pulse.dm <= kMostPulseDm, "--pulse-dm",
                 "a dispersion measure from 0 to 10000 pc cm^-3");
  if (!(pulse.period_ms > 0.0)) throw ToolError("option --pulse-dm disperses the pulse: give --pulse-period");
  if (!options.centre_mhz) {
    throw ToolError("option --pulse-dm needs --centre: the delays depend on the frequencies of the band");
  }
  pulse.centre_mhz = *options.centre_mhz;
  if (!(pulse.centre_mhz - options.sky.rate_mhz / 2.0 > 0.0)) {
    throw ToolError("option --pulse-dm needs the whole band above 0 MHz: a --centre above half the --rate");
  }
}

SimOptions sim_options(const Run& run) {
  const GivenOptions& given = run.options();
  SimOptions options;
  options.capture = run.text(0);
  options.sky = sky_options(given);
  options.force = given.has("--force");
  if (const auto samples = given.value("--samples")) {
    options.samples = option_whole("--samples", *samples);
    require_option(options.samples >= 0, "--samples", "a sample count of 0 or more");
  }
  if (const auto seconds = given.value("--seconds")) {
    const double duration = option_number("--seconds", *seconds);
    require_option(duration >= 0.0, "--seconds", "a duration of 0 seconds or more");
    const double samples = std::round(duration * options.sky.rate_mhz * 1e6);
    require_option(samples < 9e18, "--seconds", "short enough for a 64-bit sample count");
    options.samples = static_cast<std::int64_t>(samples);
  }
  if (const auto centre = given.value("--centre")) {
    options.centre_mhz = option_number("--centre", *centre);
    require_option(*options.centre_mhz >= 0.0 && *options.centre_mhz <= kMostMhz, "--centre",
                   "a frequency from 0 to 1000000 MHz");
  }
  const auto start = given.value("--start");
  if (start) {
    require_option(utc_datetime_seconds(*start).has_value(), "--start", "a UTC time like 2026-12-07T01:30:00Z");
  }
  options.start = start ? *start : utc_datetime_text(SystemClock().now());
  options.site = site_from_options(given);
  options.pointing = fixed_pointing_from_options(given);
  line_options(given, options);
  pulse_dm_option(given, options);
  return options;
}

// The capture's length in seconds.
double capture_seconds(const SimOptions& options) {
  return static_cast<double>(options.samples) / (options.sky.rate_mhz * 1e6);
}

// --pulse-frame bary: the pulse's period at the barycentre turned into the one the site receives
// at the middle of the capture, P / (1 + v/c) with v the site's velocity toward the source then;
// its console line. The period is held at the middle's: v/c changes by at most some 1.3e-10 a
// second (mostly the site turning with the Earth), which moves a pulse at either end of a capture
// of T seconds by at most 1.3e-10 T^2 / 8 s, 15 ns in 30 s and a fifth of a millisecond in an hour.
std::vector<std::string> pulse_frame_option(const GivenOptions& given, SimOptions& options) {
  const auto text = given.value("--pulse-frame");
  if (!text) return {};
  require_option(*text == "topo" || *text == "bary", "--pulse-frame", "topo or bary (got '" + *text + "')");
  Pulse& pulse = options.sky.pulse;
  if (!(pulse.period_ms > 0.0))
    throw ToolError("option --pulse-frame names the frame of the pulse: give --pulse-period");
  if (*text == "topo") return {};
  ObservationDefaults defaults;
  defaults.start = parse_utc(options.start);
  const Observation observation = observation_from_options(given, defaults);
  const UtcInstant middle = later_by(observation.start, capture_seconds(options) / 2.0);
  const double v_over_c = barycentric_timing(observation.site, pointing_at(observation, middle), middle).v_over_c;
  const double barycentric_ms = pulse.period_ms;
  pulse.period_ms = barycentric_ms / (1.0 + v_over_c);
  return {
      cformat("Pulse: period %.12f ms at the barycentre, %.12f ms at the site at mid-capture (v/c=%+.6e "
              "toward the source)\n",
              barycentric_ms, pulse.period_ms, v_over_c)};
}

// The capture's metadata beside it; a capture written to a device or pipe has none.
void write_metadata(const SimOptions& options) {
  struct stat info {};
  if (options.capture == "-" || ::stat(options.capture.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  CaptureMetadata meta;
  meta.sample_rate_hz = options.sky.rate_mhz * 1e6;
  if (options.centre_mhz) meta.centre_frequency_hz = *options.centre_mhz * 1e6;
  meta.datetime_utc = options.start;
  if (const auto& site = options.site)
    meta.geolocation = Geolocation{site->latitude_deg, site->longitude_deg, site->height_m};
  // To a nanodegree, so that the file does not carry the last bits of a library's trigonometry.
  const auto nano = [](double degrees) { return std::round(degrees * 1e9) / 1e9; };
  if (const auto& pointing = options.pointing) {
    meta.pointing = SkyPointing{std::fmod(nano(pointing->ra_deg), 360.0), nano(pointing->dec_deg)};
  }
  write_capture_metadata(options.capture, meta);
}

// A capture is a user's data: an existing file (a recording, perhaps) or the metadata beside it
// is replaced only when --force says so, and a capture larger than the free space of its file
// system is refused before anything is written. Devices and pipes (/dev/null, a FIFO) are written as given.
void check_room_for_capture(const std::string& path, std::int64_t bytes, bool force) {
  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISREG(info.st_mode) && !force) {
    throw ToolError("Can't create file " + path + ": it exists; give --force to replace it");
  }
  if (exists && !S_ISREG(info.st_mode)) return;
  // The metadata beside the capture describes a recording as much as the capture does.
  const std::string metadata = metadata_path_for(path);
  if (::lstat(metadata.c_str(), &info) == 0 && !force) {
    throw ToolError("Can't create file " + metadata + ": it exists; give --force to replace it");
  }
  check_replaceable(metadata, OutputKind::capture_metadata());
  const auto free = free_bytes_beside(path);
  if (free && *free < bytes) {
    throw ToolError(
        cformat("Can't create file %s: %lld bytes do not fit in the %lld bytes free on its file system",
                path.c_str(), static_cast<long long>(bytes), static_cast<long long>(*free)));
  }
}

// The capture's output: "-" is standard output, which must not be a terminal; a file is
// checked first (check_room_for_capture), and --force has decided whether it is replaced.
OutputFile capture_output(const SimOptions& options, std::int64_t bytes) {
  if (options.capture == "-") {
    if (::isatty(STDOUT_FILENO) == 1) {
      throw ToolError(
          "standard output is a terminal: give a capture file's name, or pipe the capture to a program");
    }
    return OutputFile::standard_output("standard output");
  }
  if (const auto why = not_a_capture_name(options.capture)) {
    throw ToolError("Can't create file " + options.capture + ": " + *why + "; give the capture another name");
  }
  check_room_for_capture(options.capture, bytes, options.force);
  return OutputFile(options.capture, {}, OutputKind::capture(INT64_MAX));
}

// The lines placed as tones among the sky's; their console lines.
std::vector<std::string> add_lines(const GivenOptions& given, SimOptions& options) {
  if (options.lines.empty()) return {};
  const VelocityFrame frame = frame_option(given);
  std::optional<Observation> observation;
  if (frame != VelocityFrame::topocentric) observation = observation_from_options(given);
  const LinePlacement where{.rest_mhz = options.rest_mhz,
                            .centre_mhz = *options.centre_mhz,
                            .rate_mhz = options.sky.rate_mhz,
                            .seconds = capture_seconds(options),
                            .start = *parse_utc(options.start)};
  std::vector<std::string> reports;
  for (const PlacedLine& line : place_lines(options.lines, where, frame, observation)) {
    options.sky.tones.push_back(line.tone);
    reports.push_back(line.report);
  }
  return reports;
}

int simulate_run(Run& run) {
  SimOptions options = sim_options(run);
  require_option(options.samples <= INT64_MAX / 2, "--samples", "a count whose byte size fits 64 bits");
  std::vector<std::string> reports = pulse_frame_option(run.options(), options);
  for (const std::string& report : add_lines(run.options(), options)) reports.push_back(report);
  const std::int64_t bytes = 2 * options.samples;
  OutputFile capture = capture_output(options, bytes);
  SkyGenerator sky(options.sky);
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(kChunkBytes));
  const auto progress = ProgressMeter::on_terminal(ProgressMeter::label_for(options.capture), bytes);
  for (std::int64_t done = 0; done < bytes; done += kChunkBytes) {
    const auto size = static_cast<std::size_t>(std::min(bytes - done, kChunkBytes));
    sky.generate(std::span(chunk.data(), size));
    capture.write(chunk.data(), size);
    if (progress) progress->update(done + static_cast<std::int64_t>(size));
  }
  capture.commit();
  write_metadata(options);
  // Standard output may be the capture itself.
  for (const std::string& report : reports) (options.capture == "-" ? run.err() : run.out()) << report;
  return kExitSuccess;
}

}  // namespace

int run_iqsim(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kSimCommand, args, out, err, simulate_run);
}

}  // namespace iq
