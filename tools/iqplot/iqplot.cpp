// SPDX-License-Identifier: MIT
// iqplot: reads a table, tells its kind from its layout (or takes it as an option), writes a
// gnuplot script for it and stores what gnuplot draws as the picture.
#include "iqplot.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "io/header_fields.hpp"
#include "io/capture_reader.hpp"
#include "astro/observation_options.hpp"
#include "cli/command.hpp"
#include "io/output_file.hpp"
#include "io/table_reader.hpp"
#include "io/capture_metadata.hpp"
#include "io/interrupt_cleanup.hpp"
#include "plot_metadata.hpp"
#include "plot_script.hpp"
#include "search_plot.hpp"
#include "spectral_axis.hpp"
#include "velocity_frame.hpp"
#include "waterfall_plot.hpp"
#include "table_kind.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kIqplotUsage =
    "Usage: iqplot <table> <picture.png|picture.svg> [options]   (iqplot -h lists the options)";

const Command kCommand{
    .tool = "iqplot",
    .usage = kIqplotUsage,
    .summary =
        "Draws a table written by one of the iqtools as a picture with gnuplot: a spectrum, a\n"
        "power trace, a modulation spectrum, a pulse profile (mean and count), lagscan's\n"
        "normalised lag product (both directions; not a correlation coefficient: 0.89 for\n"
        "a capture against itself, more for strong modulation), a level table, a dump (I and Q),\n"
        "a period search (chi-square against trial period, cyclesearch's best trial, the\n"
        "detection threshold and verdict), a calibrated spectrum (with its zero line)\n"
        "or a waterfall (a heat map: frequency across, time down, power in dB as colour). The kind\n"
        "is told from the table's layout. The capture's rate, centre and start come from its SigMF\n"
        "metadata when there is some: a waterfall's header, --metadata, or the capture named like\n"
        "the table (night.txt: night.sigmf-meta); the options override them.\n"
        "A velocity axis is topocentric unless --frame asks for the barycentric or the LSRK\n"
        "frame: the correction, for the site (--site or the metadata's core:geolocation), the\n"
        "pointing and the middle of the capture (or of a waterfall's rows), is printed.\n"
        "The picture's name ends in .png or .svg, which chooses its format.\n"
        "Needs gnuplot (Debian: apt-get install gnuplot-nox); IQTOOLS_GNUPLOT names another\n"
        "gnuplot program.",
    .parameters = {text_parameter("table"), text_parameter("picture.png|picture.svg")},
    .options =
        {{.name = "--kind",
          .alias = "-k",
          .argument = "KIND",
          .help = "the table's kind: spectrum, powtrace, modspec, profile,\ncorrelation, levels, dump, search, "
                  "calibrated,\nwaterfall"},
         {.name = "--rate",
          .alias = "-r",
          .argument = "MHZ",
          .help =
              "the capture's complex sample rate: a spectrum's axis in MHz,\na correlation's in microseconds, a "
              "dump's in milliseconds"},
         {.name = "--centre",
          .alias = "-c",
          .argument = "MHZ",
          .help = "the receiver's tuned frequency: a spectrum's axis in absolute\nMHz (needs --rate)"},
         {.name = "--center", .argument = "MHZ", .help = "the same as --centre"},
         {.name = "--db", .help = "a spectrum's power in decibels"},
         {.name = "--folded",
          .argument = "QUANTITY",
          .help =
              "what a profile's tool folded: amplitude (cyclefold) or power\n(cyclestack, cyclebin); names the "
              "profile's axis"},
         {.name = "--video-band",
          .alias = "-v",
          .argument = "KHZ",
          .help = "the video band given to powtrace or modspec: with --rate, a\npower trace's axis in seconds, a "
                  "modulation spectrum's in Hz"},
         {.name = "--velocity",
          .argument = "MHZ",
          .help = "a spectrum's or waterfall's axis in radial velocity (km/s, radio\nconvention) about this rest "
                  "frequency (default 1420.405751768,\nthe hydrogen line); needs the rate and the centre",
          .argument_optional = true},
         {.name = "--start",
          .argument = "TIME",
          .help = "the capture's start, UTC, as 2026-12-07T01:30:00Z: a\nwaterfall's time axis in UTC, the time "
                  "of a velocity frame"},
         {.name = "--metadata",
          .alias = "-m",
          .argument = "CAPTURE",
          .help = "read the rate, centre and start from this capture's metadata"},
         {.name = "--linear", .help = "a waterfall's colours in mean power instead of dB"},
         {.name = "--xrange",
          .argument = "FROM:TO",
          .help = "the horizontal axis from FROM to TO, in its units (a part of\nthe band: MHz, or km/s with "
                  "--velocity)"},
         {.name = "--title",
          .argument = "TEXT",
          .help = "the picture's title (default: the table's name and kind)"},
         {.name = "--size", .argument = "WIDTHxHEIGHT", .help = "picture size in pixels (default 900x540)"}},
    .usage_on_console = false,
};

// The options above with the frame, site and pointing that a barycentric or LSRK axis needs.
const Command kPlotCommand = with_frame_options(kCommand);

constexpr const char* kGetGnuplot = "gnuplot is not installed; install it with: apt-get install gnuplot-nox";

struct PlotOptions {
  std::string table;
  std::string picture;
  std::optional<TableKind> kind;
  std::optional<std::string> metadata;
  PlotSettings settings;
};

double positive_number(const std::string& option, const std::string& text, const char* range) {
  const double value = option_number(option, text);
  require_option(value > 0.0, option, range);
  return value;
}

void parse_size(const std::string& option, const std::string& text, PlotSettings& settings) {
  const auto x = text.find('x');
  require_option(x != std::string::npos, option, "WIDTHxHEIGHT in pixels");
  const std::int64_t width = option_whole(option, text.substr(0, x));
  const std::int64_t height = option_whole(option, text.substr(x + 1));
  const char* range = "WIDTHxHEIGHT with each side from 100 to 10000 pixels";
  require_option(width >= 100 && width <= 10000 && height >= 100 && height <= 10000, option, range);
  settings.width = static_cast<int>(width);
  settings.height = static_cast<int>(height);
}

// "FROM:TO", two numbers with FROM below TO.
std::pair<double, double> parse_range(const std::string& option, const std::string& text) {
  const auto colon = text.find(':', 1);
  const char* range = "FROM:TO, two numbers with FROM below TO";
  require_option(colon != std::string::npos, option, range);
  const double from = option_number(option, text.substr(0, colon));
  const double to = option_number(option, text.substr(colon + 1));
  require_option(from < to, option, range);
  return {from, to};
}

// The axes' options: rates, centre, velocity, range and start.
void axis_options(const GivenOptions& given, PlotSettings& settings) {
  if (const auto rate = given.value("--rate"))
    settings.rate_mhz = positive_number("--rate", *rate, "a rate above 0 MHz");
  for (const char* name : {"--centre", "--center"}) {
    if (const auto centre = given.value(name)) settings.centre_mhz = option_number(name, *centre);
  }
  if (const auto band = given.value("--video-band")) {
    settings.video_band_khz = positive_number("--video-band", *band, "a band above 0 kHz");
  }
  if (given.has("--velocity")) {
    const auto rest = given.value("--velocity");
    settings.velocity_rest_mhz =
        rest ? positive_number("--velocity", *rest, "a rest frequency above 0 MHz") : kHydrogenRestMhz;
  }
  if (const auto start = given.value("--start")) {
    require_option(utc_datetime_seconds(*start).has_value(), "--start", "a UTC time like 2026-12-07T01:30:00Z");
    settings.start_utc = *start;
  }
  if (const auto range = given.value("--xrange")) settings.x_range = parse_range("--xrange", *range);
}

PlotOptions plot_options(const Run& run) {
  const GivenOptions& given = run.options();
  PlotOptions options;
  options.table = run.text(0);
  options.picture = run.text(1);
  if (const auto kind = given.value("--kind")) {
    options.kind = table_kind_from_name(*kind);
    require_option(options.kind.has_value(), "--kind", "one of " + table_kind_names() + " (got '" + *kind + "')");
  }
  axis_options(given, options.settings);
  options.metadata = given.value("--metadata");
  options.settings.linear = given.has("--linear");
  options.settings.decibels = given.has("--db");
  if (const auto quantity = given.value("--folded")) {
    require_option(*quantity == "amplitude" || *quantity == "power", "--folded",
                   "amplitude or power (got '" + *quantity + "')");
    options.settings.folded = *quantity == "amplitude" ? FoldedQuantity::kAmplitude : FoldedQuantity::kPower;
  }
  if (const auto title = given.value("--title")) options.settings.title = *title;
  if (const auto size = given.value("--size")) parse_size("--size", *size, options.settings);
  return options;
}

// The format a picture's name asks for: its extension, in any case.
PictureFormat picture_format(const std::string& picture) {
  const auto dot = picture.rfind('.');
  std::string extension = dot == std::string::npos ? "" : picture.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return PictureFormat::kPng;
  if (extension == "svg") return PictureFormat::kSvg;
  throw ToolError("Can't draw " + picture + ": a picture's name must end in .png or .svg");
}

// The gnuplot program to run: IQTOOLS_GNUPLOT or "gnuplot", looked up in PATH unless it names
// a path. Nothing when it is not there.
std::optional<std::string> find_gnuplot() {
  const char* chosen = std::getenv("IQTOOLS_GNUPLOT");
  const std::string program = chosen != nullptr && *chosen != '\0' ? chosen : "gnuplot";
  if (program.find('/') != std::string::npos) {
    return ::access(program.c_str(), X_OK) == 0 ? std::optional(program) : std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
  while (true) {
    const auto colon = dirs.find(':');
    const std::string dir(dirs.substr(0, colon));
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) {
      return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    dirs.remove_prefix(colon + 1);
  }
}

// A private folder for the script and gnuplot's messages, removed with its contents; also
// when a signal ends the run.
class TempFolder {
 public:
  TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/iqplot.XXXXXX";
    const sigset_t signals = interrupt::cleanup_signals();
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &signals, &before);
    const bool made = ::mkdtemp(pattern.data()) != nullptr;
    const int error = errno;
    if (made) {
      path_ = pattern;
      script_ = path_ + "/plot.gp";
      messages_ = path_ + "/messages.txt";
      interrupt::register_temp_folder(path_.c_str());
      interrupt::register_temp(script_.c_str());
      interrupt::register_temp(messages_.c_str());
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    if (!made) throw ToolError(system_error_text("Can't create a temporary folder in " + pattern, error));
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    interrupt::unregister_temp(messages_.c_str());
    interrupt::unregister_temp(script_.c_str());
    interrupt::unregister_temp_folder(path_.c_str());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& script() const { return script_; }
  const std::string& messages() const { return messages_; }

 private:
  std::string path_;
  std::string script_;
  std::string messages_;
};

// Why gnuplot failed, from its messages: the last error it reports ("file" line N: what),
// else its last warning, else its last line; not the echo of the script line it stopped at.
std::string gnuplot_reason(const std::string& path) {
  std::ifstream file(path);
  std::string line, error, warning, last;
  while (std::getline(file, line)) {
    if (line.find_first_not_of(" \t^") == std::string::npos) continue;
    last = line;
    const auto at = line.find("\" line ");
    const auto colon = at == std::string::npos ? at : line.find(": ", at);
    if (colon == std::string::npos) continue;
    const std::string what = line.substr(colon + 2);
    (what.starts_with("warning:") ? warning : error) = what;
  }
  if (!error.empty()) return error;
  if (!warning.empty()) return warning;
  return last.empty() ? "no message" : last;
}

// Starts `gnuplot script` with its standard output into a pipe (returned in `output`) and its
// messages into `messages`; the child is registered to be ended by an interrupt.
pid_t start_gnuplot(const std::string& gnuplot, const TempFolder& folder, int& output) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw ToolError(system_error_text("Can't start gnuplot", errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, folder.messages().c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const sigset_t signals = interrupt::cleanup_signals();
  sigset_t before;
  ::sigprocmask(SIG_BLOCK, &signals, &before);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &before);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  const char* argv[] = {gnuplot.c_str(), folder.script().c_str(), nullptr};
  const int error =
      ::posix_spawn(&child, gnuplot.c_str(), &actions, &attributes, const_cast<char**>(argv), environ);
  if (error == 0) interrupt::register_child(child);
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (error != 0) {
    ::close(pipe_fds[0]);
    throw ToolError(system_error_text("Can't start gnuplot " + gnuplot, error));
  }
  output = pipe_fds[0];
  return child;
}

// Waits for the child to end; whether it exited with status 0.
bool wait_for(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  interrupt::unregister_child(child);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Copies what gnuplot writes into the picture; the number of bytes.
std::int64_t copy_picture(int output, OutputFile& picture) {
  std::vector<std::uint8_t> chunk(std::size_t{1} << 16);
  std::int64_t total = 0;
  while (true) {
    const ssize_t got = ::read(output, chunk.data(), chunk.size());
    if (got == 0) return total;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ToolError(system_error_text("Can't read what gnuplot drew", errno));
    }
    picture.write(chunk.data(), static_cast<std::size_t>(got));
    total += got;
  }
}

// Runs gnuplot on `script` and writes what it draws into `picture`.
void draw(const std::string& gnuplot, const std::string& script, OutputFile& picture) {
  const TempFolder folder;
  {
    std::ofstream file(folder.script());
    file << script;
    if (!file.flush()) throw ToolError("Can't write the gnuplot script " + folder.script());
  }
  int output = -1;
  const pid_t child = start_gnuplot(gnuplot, folder, output);
  std::int64_t total = 0;
  try {
    total = copy_picture(output, picture);
  } catch (...) {
    ::close(output);
    ::kill(child, SIGTERM);
    wait_for(child);
    throw;
  }
  ::close(output);
  if (!wait_for(child) || total == 0) {
    throw ToolError("gnuplot could not draw the picture: " + gnuplot_reason(folder.messages()));
  }
}

// Whether the table starts with a waterfall's header line; the table is rewound.
bool starts_as_waterfall(TableReader& table) {
  std::string first;
  const bool any = table.next_line(first);
  table.rewind();
  return any && is_waterfall_header(first);
}

// Reads a waterfall's header and rows into the settings; the number of complete rows.
std::int64_t read_waterfall(TableReader& table, const std::string& name, PlotSettings& settings) {
  const WaterfallShape shape = scan_waterfall(table, name);
  if (shape.rows == 0) throw ToolError("the waterfall " + name + " has no complete row yet");
  settings.points = shape.points;
  settings.frames_per_row = shape.frames_per_row;
  settings.rows = shape.rows;
  settings.flagged_rows = shape.flagged_rows;
  settings.site = shape.header.geolocation;
  fill_from_metadata(settings, shape.header);
  return shape.rows;
}

// A velocity axis is one of frequency bins, and needs the rate and centre to place them.
void check_velocity(const PlotSettings& settings, TableKind kind) {
  if (!settings.velocity_rest_mhz) return;
  if (kind != TableKind::kSpectrum && kind != TableKind::kCalibrated && kind != TableKind::kWaterfall) {
    throw ToolError("option --velocity applies to spectra, calibrated spectra and waterfalls only");
  }
  if (!settings.rate_mhz || !settings.centre_mhz) {
    throw ToolError(
        "option --velocity needs the sample rate and the centre frequency: give --rate and "
        "--centre, or keep the capture's .sigmf-meta beside it");
  }
}

// speccal's header places its bins like a waterfall's, before any capture's metadata does:
// the bins of the whole spectrum (a switched table holds fewer), the rate and the centre; and
// it says whether the values are in kelvin.
void read_calibrated_header(const std::vector<std::string>& comments, PlotSettings& settings) {
  CaptureMetadata header;
  for (const std::string& comment : comments) {
    if (comment.starts_with("# kelvin:")) settings.kelvin = true;
    if (!comment.starts_with("# speccal ")) continue;
    const std::vector<std::string> fields = fields_of(comment);
    take_tuning_fields(fields, header);
    for (const std::string& field : fields) {
      std::int64_t points = 0;
      if (field.starts_with("points=") && whole_field(field.substr(7), points) && points > 0) {
        settings.points = points;
      }
    }
  }
  fill_from_metadata(settings, header);
}

// The table's kind (given, or told from its layout) and its number of rows.
TableKind identify_table(const PlotOptions& options, TableReader& table, PlotSettings& settings,
                         std::int64_t& rows) {
  if (options.kind == TableKind::kWaterfall || (!options.kind && starts_as_waterfall(table))) {
    rows = read_waterfall(table, options.table, settings);
    return TableKind::kWaterfall;
  }
  const TableShape shape = scan_table(table, options.table);
  if (shape.rows == 0) throw ToolError("the table " + options.table + " is empty");
  if (shape.finite_values == 0) {
    throw ToolError("the table " + options.table +
                    " holds no finite value (every value is nan): the run that wrote it measured nothing");
  }
  rows = shape.rows;
  settings.keys = {shape.min_key, shape.max_key};
  settings.search = read_search_header(shape.comments);
  settings.dm_trials = shape.columns == 5;
  read_calibrated_header(shape.comments, settings);
  settings.flagged = shape.flagged;
  const auto recognised = recognise_table(shape);
  if (!options.kind) {
    if (recognised) return *recognised;
    throw ToolError("can't tell what kind of table " + options.table + " is; give it with --kind (one of " +
                    table_kind_names() + ")");
  }
  const std::string given(table_kind_name(*options.kind));
  if (!table_kind_fits(*options.kind, shape.columns)) {
    throw ToolError("option --kind " + given + " does not fit " + options.table + ": it has " +
                    std::to_string(shape.columns) + " columns, a " + given + " table " +
                    std::to_string(table_kind_columns(*options.kind)));
  }
  // A 256-point spectrum whose values happen to add up to 512 looks like a level table: the
  // one layout that --kind spectrum may overrule.
  const bool coincidence = options.kind == TableKind::kSpectrum && recognised == TableKind::kLevels;
  if (recognised && *options.kind != *recognised && !coincidence) {
    throw ToolError("option --kind " + given + " does not fit " + options.table + ": it has the layout of a " +
                    std::string(table_kind_name(*recognised)) + " table");
  }
  return *options.kind;
}

// A horizontal range that misses the table's data altogether draws nothing: refused, naming
// the span the data covers.
void check_x_range(const PlotSettings& settings) {
  if (!settings.x_range) return;
  const auto [low, high] = x_data_span(settings);
  const auto [from, to] = *settings.x_range;
  if (to < low || from > high) {
    throw ToolError(cformat("option --xrange %.10g:%.10g lies outside the data: it runs from %.10g to %.10g (%s)",
                            from, to, low, high, x_axis_label(settings).c_str()));
  }
}

int plot_run(Run& run) {
  PlotOptions options = plot_options(run);
  const PictureFormat format = picture_format(options.picture);
  TableReader table(options.table);
  PlotSettings& settings = options.settings;
  std::int64_t rows = 0;
  const TableKind kind = identify_table(options, table, settings, rows);
  require_option(!options.settings.decibels || kind == TableKind::kSpectrum, "--db", "given for a spectrum only");
  CaptureMetadata meta = table_metadata(options.table, options.metadata, run.err());
  if (!meta.geolocation) meta.geolocation = settings.site;  // a waterfall's header's
  fill_from_metadata(settings, meta);
  check_velocity(settings, kind);
  // The rate may come from the capture's metadata; a centre without any rate is refused.
  require_option(!settings.centre_mhz || settings.rate_mhz, "--centre",
                 "given with --rate (or a capture's metadata): the frequency axis needs the sample rate");
  settings.kind = kind;
  settings.format = format;
  // gnuplot reads "-", "+" and names starting with '<' as inline data, a sampling range or a
  // shell command; a path with a folder part is always a plain file.
  settings.table = options.table.front() == '/' ? options.table : "./" + options.table;
  settings.rows = rows;
  const std::optional<std::string> frame_line = apply_velocity_frame(
      run.options(), meta, table_capture_seconds(options.table, options.metadata, settings.rate_mhz), settings);
  check_x_range(settings);
  if (settings.title.empty()) {
    settings.title =
        std::filesystem::path(options.table).filename().string() + " (" + std::string(table_kind_name(kind)) + ")";
    if (settings.start_utc) settings.title += ", capture started " + *settings.start_utc;
  }
  const auto gnuplot = find_gnuplot();
  if (!gnuplot) throw ToolError(kGetGnuplot);
  OutputFile picture(options.picture, {table.id()}, OutputKind::picture());
  draw(*gnuplot, plot_script(settings), picture);
  picture.commit();
  run.out() << cformat("Table=%s    Kind=%s    Rows=%lld    Picture=%s\n", options.table.c_str(),
                       std::string(table_kind_name(kind)).c_str(), static_cast<long long>(rows),
                       options.picture.c_str());
  if (frame_line) run.out() << *frame_line;
  return kExitSuccess;
}

}  // namespace

int run_iqplot(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kPlotCommand, args, out, err, plot_run);
}

}  // namespace iq
