// iqplot: reads a table, tells its kind from its layout (or takes it as an option), writes a
// gnuplot script for it and stores what gnuplot draws as the picture.
#include "iqplot.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "cli/option_scanner.hpp"
#include "io/output_file.hpp"
#include "io/capture_metadata.hpp"
#include "plot_metadata.hpp"
#include "plot_script.hpp"
#include "spectral_axis.hpp"
#include "waterfall_plot.hpp"
#include "table_kind.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kHelp =
    "iqplot <table> <picture.png|picture.svg> [options]\n"
    "Draws a table written by one of the iqtools as a picture with gnuplot: a spectrum, a\n"
    "power trace, a modulation spectrum, a pulse profile (mean and count), a correlation (both\n"
    "directions), a level table, a dump (I and Q), a period search (chi-square against trial\n"
    "period, the best marked), a calibrated spectrum (with its zero line)\n"
    "or a waterfall (a heat map: frequency across, time down, power in dB as colour). The kind\n"
    "is told from the table's layout. The capture's rate, centre and start come from its SigMF\n"
    "metadata when there is some: a waterfall's header, --metadata, or the capture named like\n"
    "the table (night.txt: night.sigmf-meta); the options override them.\n"
    "The picture's name ends in .png or .svg, which chooses its format.\n"
    "\n"
    "  -k, --kind KIND          the table's kind: spectrum, powtrace, modspec, profile,\n"
    "                           correlation, levels, dump, search, calibrated,\n"
    "                           waterfall\n"
    "  -r, --rate MHZ           the capture's complex sample rate: a spectrum's axis in MHz,\n"
    "                           a correlation's in microseconds, a dump's in milliseconds\n"
    "  -c, --centre MHZ         the receiver's tuned frequency: a spectrum's axis in absolute\n"
    "                           MHz (needs --rate)\n"
    "      --db                 a spectrum's power in decibels\n"
    "      --folded QUANTITY    what a profile's tool folded: amplitude (cyclefold) or power\n"
    "                           (cyclestack, cyclebin); names the profile's axis\n"
    "  -v, --video-band KHZ     the video band given to powtrace or modspec: with --rate, a\n"
    "                           power trace's axis in seconds, a modulation spectrum's in Hz\n"
    "      --velocity [MHZ]     a spectrum's or waterfall's axis in radial velocity (km/s, radio\n"
    "                           convention) about this rest frequency (default 1420.405751768,\n"
    "                           the hydrogen line); needs the rate and the centre\n"
    "      --start TIME         the capture's start, UTC, as 2026-12-07T01:30:00Z: a\n"
    "                           waterfall's time axis in UTC\n"
    "  -m, --metadata CAPTURE   read the rate, centre and start from this capture's metadata\n"
    "      --linear             a waterfall's colours in mean power instead of dB\n"
    "      --xrange FROM:TO     the horizontal axis from FROM to TO, in its units (a part of\n"
    "                           the band: MHz, or km/s with --velocity)\n"
    "      --title TEXT         the picture's title (default: the table's name and kind)\n"
    "      --size WIDTHxHEIGHT  picture size in pixels (default 900x540)\n"
    "  -h, --help               this text\n"
    "\n"
    "Needs gnuplot (Debian: apt-get install gnuplot-nox); IQTOOLS_GNUPLOT names another\n"
    "gnuplot program.\n";

constexpr const char* kGetGnuplot =
    "gnuplot is not installed; install it with: apt-get install gnuplot-nox";

struct PlotOptions {
  std::string table;
  std::string picture;
  std::optional<TableKind> kind;
  std::optional<std::string> metadata;
  PlotSettings settings;
  bool help = false;
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

PlotOptions parse_options(const ToolArgs& args) {
  PlotOptions options;
  OptionScanner scan(args);
  while (scan.next()) {
    const std::string& name = scan.name();
    if (name == "-h" || name == "--help") {
      options.help = true;
    } else if (!scan.is_option()) {
      if (options.table.empty()) {
        options.table = name;
      } else if (options.picture.empty()) {
        options.picture = name;
      } else {
        throw ToolError("unexpected argument '" + name + "'");
      }
    } else if (name == "-k" || name == "--kind") {
      const std::string kind = scan.value();
      options.kind = table_kind_from_name(kind);
      require_option(options.kind.has_value(), name, "one of " + table_kind_names() + " (got '" + kind + "')");
    } else if (name == "-r" || name == "--rate") {
      options.settings.rate_mhz = positive_number(name, scan.value(), "a rate above 0 MHz");
    } else if (name == "-c" || name == "--centre" || name == "--center") {
      options.settings.centre_mhz = option_number(name, scan.value());
    } else if (name == "-v" || name == "--video-band") {
      options.settings.video_band_khz = positive_number(name, scan.value(), "a band above 0 kHz");
    } else if (name == "--velocity") {
      const auto rest = scan.optional_number_value();
      options.settings.velocity_rest_mhz =
          rest ? positive_number(name, *rest, "a rest frequency above 0 MHz") : kHydrogenRestMhz;
    } else if (name == "--start") {
      const std::string start = scan.value();
      require_option(utc_datetime_seconds(start).has_value(), name, "a UTC time like 2026-12-07T01:30:00Z");
      options.settings.start_utc = start;
    } else if (name == "-m" || name == "--metadata") {
      options.metadata = scan.value();
    } else if (name == "--linear") {
      options.settings.linear = true;
    } else if (name == "--xrange") {
      options.settings.x_range = parse_range(name, scan.value());
    } else if (name == "--db") {
      options.settings.decibels = true;
    } else if (name == "--folded") {
      const std::string quantity = scan.value();
      require_option(quantity == "amplitude" || quantity == "power", name,
                     "amplitude or power (got '" + quantity + "')");
      options.settings.folded = quantity == "amplitude" ? FoldedQuantity::kAmplitude : FoldedQuantity::kPower;
    } else if (name == "--title") {
      options.settings.title = scan.value();
    } else if (name == "--size") {
      parse_size(name, scan.value(), options.settings);
    } else {
      throw ToolError("unknown option '" + name + "'");
    }
  }
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

std::string shell_quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
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

// A private folder for the script and gnuplot's messages, removed with its contents.
class TempFolder {
 public:
  TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/iqplot.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw ToolError(system_error_text("Can't create a temporary folder in " + pattern, errno));
    }
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string first_line_of(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    if (line.find_first_not_of(" \t") != std::string::npos) return line;
  }
  return "no message";
}

// Runs gnuplot on `script` and writes what it draws into `picture`.
void draw(const std::string& gnuplot, const std::string& script, OutputFile& picture) {
  const TempFolder folder;
  const std::string script_path = folder.file("plot.gp");
  const std::string messages = folder.file("messages.txt");
  {
    std::ofstream file(script_path);
    file << script;
    if (!file.flush()) throw ToolError("Can't write the gnuplot script " + script_path);
  }
  const std::string command =
      shell_quoted(gnuplot) + " " + shell_quoted(script_path) + " 2>" + shell_quoted(messages);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw ToolError(system_error_text("Can't start gnuplot", errno));
  std::vector<std::uint8_t> chunk(std::size_t{1} << 16);
  std::int64_t total = 0;
  std::size_t got = 0;
  try {
    while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
      picture.write(chunk.data(), got);
      total += static_cast<std::int64_t>(got);
    }
  } catch (...) {
    ::pclose(pipe);
    throw;
  }
  const int status = ::pclose(pipe);
  if (status != 0 || total == 0) {
    throw ToolError("gnuplot could not draw the picture: " + first_line_of(messages));
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
    throw ToolError("option --velocity needs the sample rate and the centre frequency: give --rate and "
                    "--centre, or keep the capture's .sigmf-meta beside it");
  }
}

}  // namespace

int run_iqplot(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded("iqplot", out, err, [&] {
    PlotOptions options = parse_options(args);
    if (options.help) {
      out << kHelp;
      return kExitSuccess;
    }
    if (options.picture.empty()) {
      err << kIqplotUsage << '\n';
      return kExitFailure;
    }
    const PictureFormat format = picture_format(options.picture);
    TableReader table(options.table);
    PlotSettings& settings = options.settings;
    std::optional<TableKind> kind = options.kind;
    std::int64_t rows = 0;
    if (kind == TableKind::kWaterfall || (!kind && starts_as_waterfall(table))) {
      kind = TableKind::kWaterfall;
      rows = read_waterfall(table, options.table, settings);
    } else {
      const TableShape shape = scan_table(table, options.table);
      if (shape.rows == 0) throw ToolError("the table " + options.table + " is empty");
      if (shape.finite_values == 0) {
        throw ToolError("the table " + options.table +
                        " holds no finite value (every value is nan): the run that wrote it measured nothing");
      }
      const auto recognised = recognise_table(shape);
      if (options.kind && shape.columns != table_kind_columns(*options.kind)) {
        throw ToolError("option --kind " + std::string(table_kind_name(*options.kind)) + " does not fit " +
                        options.table + ": it has " + std::to_string(shape.columns) + " columns, a " +
                        std::string(table_kind_name(*options.kind)) + " table " +
                        std::to_string(table_kind_columns(*options.kind)));
      }
      // A 256-point spectrum whose values happen to add up to 512 looks like a level table: the
      // one layout that --kind spectrum may overrule.
      const bool coincidence = options.kind == TableKind::kSpectrum && recognised == TableKind::kLevels;
      if (options.kind && recognised && *options.kind != *recognised && !coincidence) {
        throw ToolError("option --kind " + std::string(table_kind_name(*options.kind)) + " does not fit " +
                        options.table + ": it has the layout of a " + std::string(table_kind_name(*recognised)) +
                        " table");
      }
      if (!kind) kind = recognised;
      rows = shape.rows;
    }
    if (!kind) {
      throw ToolError("can't tell what kind of table " + options.table +
                      " is; give it with --kind (one of " + table_kind_names() + ")");
    }
    require_option(!options.settings.decibels || *kind == TableKind::kSpectrum, "--db",
                   "given for a spectrum only");
    const auto gnuplot = find_gnuplot();
    if (!gnuplot) throw ToolError(kGetGnuplot);

    fill_from_metadata(settings, table_metadata(options.table, options.metadata, err));
    check_velocity(settings, *kind);
    // The rate may come from the capture's metadata; a centre without any rate is refused.
    require_option(!settings.centre_mhz || settings.rate_mhz, "--centre",
                   "given with --rate (or a capture's metadata): the frequency axis needs the sample rate");
    settings.kind = *kind;
    settings.format = format;
    // gnuplot reads "-", "+" and names starting with '<' as inline data, a sampling range or a
    // shell command; a path with a folder part is always a plain file.
    settings.table = options.table.front() == '/' ? options.table : "./" + options.table;
    settings.rows = rows;
    if (settings.title.empty()) {
      settings.title = std::filesystem::path(options.table).filename().string() + " (" +
                       std::string(table_kind_name(*kind)) + ")";
      if (settings.start_utc) settings.title += ", capture started " + *settings.start_utc;
    }
    OutputFile picture(options.picture, {table.id()}, OutputKind::picture());
    draw(*gnuplot, plot_script(settings), picture);
    picture.commit();
    out << cformat("Table=%s    Kind=%s    Rows=%lld    Picture=%s\n", options.table.c_str(),
                   std::string(table_kind_name(*kind)).c_str(), static_cast<long long>(rows),
                   options.picture.c_str());
    return kExitSuccess;
  });
}

}  // namespace iq
