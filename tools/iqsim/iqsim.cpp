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

#include "cli/option_scanner.hpp"
#include "io/capture_metadata.hpp"
#include "time/clock.hpp"
#include "io/output_file.hpp"
#include "io/progress_meter.hpp"
#include "io/text_format.hpp"
#include "sky_generator.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kHelp =
    "iqsim <capture file> [options]\n"
    "Writes a synthetic capture: interleaved unsigned 8-bit I and Q samples around the zero\n"
    "level 127.5, quantised and clipped like an 8-bit converter. Deterministic for a seed.\n"
    "\n"
    "  -r, --rate MHZ             complex sample rate in MHz (default 2.4)\n"
    "  -n, --samples COUNT        number of complex samples (default 2400000)\n"
    "  -t, --seconds SECONDS      duration instead of a sample count\n"
    "  -s, --seed SEED            seed of the sky's random sequence (default 1)\n"
    "      --noise SIGMA          sky noise, standard deviation per component in converter\n"
    "                             steps (default 10)\n"
    "      --tone HZ[,AMPLITUDE[,DRIFT]]\n"
    "                             a tone at a frequency offset in Hz (negative allowed), peak\n"
    "                             amplitude in steps (default 20), its offset drifting by DRIFT\n"
    "                             Hz per second (default 0); may be repeated\n"
    "      --pulse-period MS      a periodic pulse of extra noise power with this period\n"
    "      --pulse-duty FRACTION  fraction of the period the pulse is on (default 0.1)\n"
    "      --pulse-strength RATIO extra noise power while on, relative to the noise (default 1)\n"
    "      --pulse-phase FRACTION where in the period the pulse starts (default 0)\n"
    "      --delay SAMPLES        this receiver sees the sky SAMPLES later (a second receiver\n"
    "                             of the same sky: same seed, another delay)\n"
    "      --rx-noise SIGMA       this receiver's own noise in steps (default 0)\n"
    "      --rx-seed SEED         seed of the receiver's own noise (default 2)\n"
    "      --passband PERCENT[,CYCLES]\n"
    "                             the receiver's gain across the band: its power rises and falls\n"
    "                             by PERCENT (0 .. 100, peak to trough) in CYCLES ripples (1 ..\n"
    "                             1000, default 1: a gentle slope through the middle of the band)\n"
    "      --centre MHZ           the frequency the receiver is tuned to, for the metadata\n"
    "      --start TIME           the capture's start for the metadata, UTC, as\n"
    "                             2026-12-07T01:30:00Z (default now)\n"
    "  -f, --force                replace the capture file if it exists\n"
    "  -h, --help                 this text\n"
    "\n"
    "The capture's rate, centre and start go into a SigMF metadata file beside it (the\n"
    "capture's name with .bin replaced by, or else followed by, .sigmf-meta).\n";

constexpr std::int64_t kChunkBytes = std::int64_t{1} << 20;
constexpr std::int64_t kMaxDelay = 2147483647;

struct SimOptions {
  std::string capture;
  SkySettings sky;
  std::optional<double> centre_mhz;
  std::optional<std::string> start;
  std::int64_t samples = 2400000;
  std::optional<double> seconds;
  bool force = false;
  bool help = false;
};

Tone parse_tone(const std::string& text) {
  Tone tone;
  const auto comma = text.find(',');
  tone.offset_hz = option_number("--tone", text.substr(0, comma));
  std::string rest = comma == std::string::npos ? "" : text.substr(comma + 1);
  const auto second_comma = rest.find(',');
  if (comma != std::string::npos) tone.amplitude = option_number("--tone", rest.substr(0, second_comma));
  if (second_comma != std::string::npos) tone.drift_hz_per_s = option_number("--tone", rest.substr(second_comma + 1));
  require_option(tone.amplitude >= 0.0, "--tone", "HZ[,AMPLITUDE[,DRIFT]] with an amplitude of 0 or more");
  return tone;
}

Passband parse_passband(const std::string& text) {
  Passband passband;
  const auto comma = text.find(',');
  const double percent = option_number("--passband", text.substr(0, comma));
  require_option(percent >= 0.0 && percent <= 100.0, "--passband", "PERCENT[,CYCLES] with a percentage from 0 to 100");
  passband.depth = percent / 100.0;
  if (comma != std::string::npos) {
    const std::int64_t cycles = option_whole("--passband", text.substr(comma + 1));
    require_option(cycles >= 1 && cycles <= kMaxPassbandCycles, "--passband",
                   "PERCENT[,CYCLES] with 1 to 1000 cycles");
    passband.cycles = static_cast<int>(cycles);
  }
  return passband;
}

SimOptions parse_options(const ToolArgs& args) {
  SimOptions options;
  OptionScanner scan(args);
  while (scan.next()) {
    const std::string& name = scan.name();
    if (name == "-h" || name == "--help") {
      options.help = true;
      continue;
    }
    if (name == "-f" || name == "--force") {
      options.force = true;
      continue;
    }
    if (!scan.is_option()) {
      if (!options.capture.empty()) throw ToolError("unexpected argument '" + name + "'");
      options.capture = name;
      continue;
    }
    auto value = [&] { return scan.value(); };
    SkySettings& sky = options.sky;
    if (name == "-r" || name == "--rate") {
      sky.rate_mhz = option_number(name, value());
      require_option(sky.rate_mhz > 0.0, name, "a rate above 0 MHz");
    } else if (name == "-n" || name == "--samples") {
      options.samples = option_whole(name, value());
      require_option(options.samples >= 0, name, "a sample count of 0 or more");
    } else if (name == "-t" || name == "--seconds") {
      options.seconds = option_number(name, value());
      require_option(*options.seconds >= 0.0, name, "a duration of 0 seconds or more");
    } else if (name == "-s" || name == "--seed") {
      sky.seed = static_cast<std::uint64_t>(option_whole(name, value()));
    } else if (name == "--noise") {
      sky.noise = option_number(name, value());
      require_option(sky.noise >= 0.0, name, "a standard deviation of 0 or more");
    } else if (name == "--tone") {
      sky.tones.push_back(parse_tone(value()));
    } else if (name == "--pulse-period") {
      sky.pulse.period_ms = option_number(name, value());
      require_option(sky.pulse.period_ms > 0.0, name, "a period above 0 ms");
    } else if (name == "--pulse-duty") {
      sky.pulse.duty = option_number(name, value());
      require_option(sky.pulse.duty > 0.0 && sky.pulse.duty <= 1.0, name, "a fraction above 0 and at most 1");
    } else if (name == "--pulse-strength") {
      sky.pulse.strength = option_number(name, value());
      require_option(sky.pulse.strength >= 0.0, name, "a power ratio of 0 or more");
    } else if (name == "--pulse-phase") {
      sky.pulse.phase = option_number(name, value());
      require_option(sky.pulse.phase >= 0.0 && sky.pulse.phase < 1.0, name, "a fraction from 0 up to (not including) 1");
    } else if (name == "--delay") {
      // An early receiver first runs through |delay| samples of the sky: bounded, so that
      // the run ends in seconds and the delay can be negated.
      sky.delay = option_whole(name, value());
      require_option(sky.delay >= -kMaxDelay && sky.delay <= kMaxDelay, name,
                     "a delay from -2147483647 to 2147483647 samples");
    } else if (name == "--rx-noise") {
      sky.receiver_noise = option_number(name, value());
      require_option(sky.receiver_noise >= 0.0, name, "a standard deviation of 0 or more");
    } else if (name == "--rx-seed") {
      sky.receiver_seed = static_cast<std::uint64_t>(option_whole(name, value()));
    } else if (name == "--passband") {
      sky.passband = parse_passband(value());
    } else if (name == "--centre") {
      options.centre_mhz = option_number(name, value());
      require_option(*options.centre_mhz >= 0.0 && std::isfinite(*options.centre_mhz), name,
                     "a frequency of 0 MHz or more");
    } else if (name == "--start") {
      options.start = value();
      require_option(utc_datetime_seconds(*options.start).has_value(), name,
                     "a UTC time like 2026-12-07T01:30:00Z");
    } else {
      throw ToolError("unknown option '" + name + "'");
    }
  }
  if (options.seconds) {
    const double samples = std::round(*options.seconds * options.sky.rate_mhz * 1e6);
    require_option(samples < 9e18, "--seconds", "short enough for a 64-bit sample count");
    options.samples = static_cast<std::int64_t>(samples);
  }
  return options;
}

// The capture's metadata beside it; a capture written to a device or pipe has none.
void write_metadata(const SimOptions& options) {
  struct stat info {};
  if (::stat(options.capture.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  CaptureMetadata meta;
  meta.sample_rate_hz = options.sky.rate_mhz * 1e6;
  if (options.centre_mhz) meta.centre_frequency_hz = *options.centre_mhz * 1e6;
  meta.datetime_utc = options.start ? *options.start : utc_datetime_text(SystemClock().now());
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
    throw ToolError(cformat("Can't create file %s: %lld bytes do not fit in the %lld bytes free on its file system",
                            path.c_str(), static_cast<long long>(bytes), static_cast<long long>(*free)));
  }
}

}  // namespace

int run_iqsim(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded("iqsim", out, err, [&] {
    const SimOptions options = parse_options(args);
    if (options.help) {
      out << kHelp;
      return kExitSuccess;
    }
    if (options.capture.empty()) {
      err << kIqsimUsage << '\n';
      return kExitFailure;
    }
    require_option(options.samples <= INT64_MAX / 2, "--samples", "a count whose byte size fits 64 bits");
    const std::int64_t bytes = 2 * options.samples;
    check_room_for_capture(options.capture, bytes, options.force);
    // Whether an existing file is replaced, --force has decided.
    OutputFile capture(options.capture, {}, OutputKind::capture(INT64_MAX));
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
    return kExitSuccess;
  });
}

}  // namespace iq
