// SPDX-License-Identifier: MIT
// iqwaterfall: cuts a capture (or a live stream on standard input) into rows of consecutive
// frames and writes each row's mean power per bin, exactly as iqspec computes it for those
// frames, negative frequencies first.
//
// The table, read by gnuplot as it is and drawn by iqplot as a heat map:
//
//   # iqwaterfall points=1024 frames_per_row=4687 sample_rate_hz=2400000 centre_frequency_hz=1420405751.768
//   start_utc=2026-12-07T01:00:00Z # one block per row of frames, oldest first, each ended by a blank line; a
//   line: bin (from -N/2), mean power -512    1234.567
//   ...                      N lines "%ld    %.17g": iqspec's values for the row's frames, every digit
//   511    1230.001
//   (blank line)
//   -512    1229.870         the next row
//
// The values are printed with every digit of the double iqspec computes ("%.17g", which reads
// back as the same double), so that a weak capture's small powers keep their precision; rounded
// to three decimals they are iqspec's table. 0 frames per row makes one row of every whole
// frame of a capture file: the capture's averaged spectrum, at full precision.
//
// The first line holds key=value fields separated by one blank: points and frames_per_row
// always; sample_rate_hz, centre_frequency_hz (shortest decimal that reads back as the same
// double) and start_utc only when known, from the capture's metadata or the options; and
// site=LAT,LON,HEIGHT (degrees north, east, metres, shortest decimals) when the metadata has
// the capture's geolocation. Row r
// holds frames r*M .. r*M+M-1 (M frames per row), so it starts r*M*N/rate seconds after
// start_utc. In gnuplot column(-1) counts the blocks:
//   plot 'table' using 1:(column(-1)):2 with image
// A complete row always ends with its blank line; a table being written by a live run holds
// only complete rows after each blank line.
//
// --flag K adds a third header line, "# flagged rows: ...", and flags a row whose total power
// (the sum of its bins' mean powers) departs from the median of the W rows around it (fewer at
// the ends) by more than K times their median absolute deviation. A flagged row r gets a line
//   # flagged row r: total power P, median M and MAD D of rows A to B
// after the blank line of row r + W/2, when the rows it is judged against are in (the last W/2
// rows' after the last row): fixed memory, and a live table's flags follow its rows. The values
// stay as they are; gnuplot and the table readers pass over the comment lines.
#include "iqwaterfall.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.hpp"
#include "cli/outlier_options.hpp"
#include "cli/tool_main.hpp"
#include "dsp/spectrum.hpp"
#include "flow/frame_pump.hpp"
#include "flow/spectrum_run.hpp"
#include "io/capture_metadata.hpp"
#include "io/capture_reader.hpp"
#include "io/header_fields.hpp"
#include "io/live_input.hpp"
#include "io/output_file.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "row_flags.hpp"
#include "runs/spectrum_rows.hpp"

namespace iq {

namespace {

constexpr const char* kIqwaterfallUsage =
    "Usage: iqwaterfall <capture|-> <table> <points> <frames per row> [options]   "
    "(iqwaterfall -h lists the options)";

constexpr const char* kTool = "iqwaterfall";

std::vector<OptionSpec> waterfall_options() {
  std::vector<OptionSpec> options = capture_metadata_options();
  options.push_back({.name = "--flag",
                     .argument = "K",
                     .help = "flag rows whose total power is more than K median absolute\n"
                             "deviations from the running median of their neighbours'"});
  options.push_back({.name = "--flag-window",
                     .argument = "ROWS",
                     .help = "the running median's width, odd, 3 to 1001 (9); a row's flag is\n"
                             "written up to half of it later"});
  return options;
}

const Command kCommand{
    .tool = kTool,
    .usage = kIqwaterfallUsage,
    .summary =
        "Writes the spectrum of a capture over time: one block per row of consecutive frames, each\n"
        "the mean power per bin exactly as iqspec computes it for those frames. \"-\" reads a live\n"
        "stream on standard input: each row is written as soon as its frames are in, and the run\n"
        "ends at the stream's end or at Ctrl-C (SIGINT), SIGTERM or SIGHUP, keeping every complete\n"
        "row. 0 frames per row makes one row of the whole capture file. Values carry every digit\n"
        "(\"%.17g\"). The rate, centre, start time and site come from <capture>.sigmf-meta when it\n"
        "is there. --flag K notes, in comment lines between the rows, the rows whose total power\n"
        "stands out from their neighbours' (interference); the values stay as they are.",
    // The frames per row are checked against the point count (a row's bytes must fit 64 bits).
    .parameters = {text_parameter("capture|-"), text_parameter("table"),
                   points_parameter("points", kSpectrumMaxPoints, "a power of two from 1 to 131072"),
                   whole_parameter("frames per row", INT64_MIN, INT64_MAX,
                                   "from 0 (one row of the whole capture) to (2^63 - 1) / (2 x points)")},
    .options = waterfall_options(),
    .usage_on_console = false,
};

std::string header_text(std::int32_t points, std::int64_t frames_per_row, const CaptureMetadata& meta) {
  std::string header =
      cformat("# iqwaterfall points=%d frames_per_row=%lld", points, static_cast<long long>(frames_per_row));
  if (meta.sample_rate_hz) header += " sample_rate_hz=" + shortest_decimal(*meta.sample_rate_hz);
  if (meta.centre_frequency_hz) header += " centre_frequency_hz=" + shortest_decimal(*meta.centre_frequency_hz);
  if (meta.datetime_utc) header += " start_utc=" + *meta.datetime_utc;
  if (meta.geolocation) header += " site=" + site_field_text(*meta.geolocation);
  return header +
         "\n# one block per row of frames, oldest first, each ended by a blank line;"
         " a line: bin (from -N/2), mean power\n";
}

// Writes each row as it is completed: its lines formatted in shares on the workers, then
// written in order. A live table is flushed after every row.
RowSink row_writer(OutputFile& table, std::int64_t frames_per_row, bool live, RowFlagWriter* flags) {
  return [&table, frames_per_row, live, flags, texts = std::vector<std::string>()](const SpectrumAccumulator& row,
                                                                                   ChunkWorkers& workers) mutable {
    texts.resize(workers.threads());
    const auto shares = static_cast<std::int64_t>(texts.size());
    workers.run(texts.size(), [&](std::size_t c) {
      const ItemRange lines = share_of(row.points(), static_cast<std::int64_t>(c), shares);
      texts[c].clear();
      append_spectrum_lines(texts[c], row, frames_per_row, static_cast<std::int32_t>(lines.begin),
                            static_cast<std::int32_t>(lines.end), SpectrumDigits::kAll);
    });
    for (const std::string& text : texts) table.write(text);
    table.write("\n");
    if (flags) flags->add(row, frames_per_row);
    if (live) table.flush();
  };
}

void print_figures(std::ostream& out, const RowFigures& figures, std::int64_t frames_per_row) {
  out << cformat("Number of Bytes = %lld   No. of FFTs=%lld   Rows=%lld\n", static_cast<long long>(figures.bytes),
                 static_cast<long long>(figures.rows * frames_per_row), static_cast<long long>(figures.rows));
}

// A capture file: its length says how many rows there are before any is read.
RowFigures waterfall_of_file(CaptureReader& capture, OutputFile& table, std::int32_t points,
                             std::int64_t frames_per_row, RowFlagWriter* flags, std::ostream& out) {
  const RowFigures figures = file_rows(capture, points, frames_per_row);
  print_figures(out, figures, frames_per_row);
  spectrum_rows_of_file(capture, points, frames_per_row, figures, row_writer(table, frames_per_row, false, flags));
  return figures;
}

// A live stream: rows are written as their frames come in, until the stream ends.
RowFigures waterfall_of_stream(LiveInput& input, OutputFile& table, std::int32_t points,
                               std::int64_t frames_per_row, RowFlagWriter* flags, std::ostream& out,
                               std::ostream& err) {
  const RowFigures figures =
      spectrum_rows_of_stream(input, points, frames_per_row, row_writer(table, frames_per_row, true, flags));
  if (input.stop_signal() != 0) {
    err << cformat("%s: the stream was stopped by %s; the table keeps its %lld complete rows\n", kTool,
                   signal_name(input.stop_signal()), static_cast<long long>(figures.rows));
  }
  print_figures(out, figures, frames_per_row);
  return figures;
}

// A row's byte count must fit 64 bits; 0 stands for the whole capture.
std::int64_t frames_per_row_argument(const Run& run, std::int32_t points) {
  const std::int64_t most = INT64_MAX / (2 * std::int64_t{points});
  const std::int64_t frames_per_row = run.whole(3);
  if (frames_per_row < 0 || frames_per_row > most) {
    run.refuse(
        3, cformat("a whole number from 0 (one row of the whole capture) to %lld", static_cast<long long>(most)));
  }
  return frames_per_row;
}

// The frames of one row of the whole capture (0 frames per row): every whole frame of a file.
std::int64_t whole_capture_row(const std::optional<CaptureReader>& capture, std::int32_t points) {
  if (!capture)
    throw ToolError("0 frames per row (one row of the whole capture) needs a capture file, not a stream");
  const std::int64_t frames = whole_frames(*capture, points);
  if (frames == 0) {
    throw ToolError(cformat("%s holds no whole frame: %lld bytes, a frame of %d points takes %lld",
                            capture->path().c_str(), static_cast<long long>(capture->length()), points,
                            2 * static_cast<long long>(points)));
  }
  return frames;
}

int waterfall_run(Run& run) {
  std::ostream& out = run.out();
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  const CaptureMetadata given = given_metadata(run.options());
  const std::optional<OutlierOptions> flag_options = outlier_options(run.options(), "rows");
  run.convert_numbers();
  const std::int32_t n = run.whole32(2);
  std::int64_t frames_per_row = frames_per_row_argument(run, n);

  std::optional<CaptureReader> capture = open_capture_or_stream(infile);
  const bool live = !capture;
  if (frames_per_row == 0) frames_per_row = whole_capture_row(capture, n);
  CaptureMetadata meta = read_capture_metadata(infile, kTool, run.err());
  if (capture) require_whole_row(*capture, n, frames_per_row, "row");
  meta = with_given(meta, given);

  OutputFile table(outfile, {live ? standard_input_id() : capture->id()});
  table.write(header_text(n, frames_per_row, meta));
  std::optional<RowFlagWriter> flags;
  if (flag_options) {
    table.write(row_flags_header(*flag_options));
    flags.emplace(table, *flag_options);
  }
  RowFlagWriter* const flags_at = flags ? &*flags : nullptr;
  RowFigures figures;
  if (live) {
    // Taken after the table exists, whose own interrupt clean-up it then stands in for: from
    // here on a stop signal ends the stream, and the table, already in place, keeps its rows.
    LiveInput input(STDIN_FILENO, "standard input");
    table.publish();
    figures = waterfall_of_stream(input, table, n, frames_per_row, flags_at, out, run.err());
  } else {
    figures = waterfall_of_file(*capture, table, n, frames_per_row, flags_at, out);
  }
  if (flags) flags->finish();
  table.commit();
  // A stream that ended before its first row filled gave nothing to look at: a failure, though
  // the table (its header alone) stays, as a live table's rows would.
  report_row_ends(run.err(), kTool, figures, frames_per_row, "row");
  out << cformat("\nInfile=%s    Outfile=%s   FFT Points=%d   Frames per row=%lld\n", infile.c_str(),
                 outfile.c_str(), n, static_cast<long long>(frames_per_row));
  if (flags) {
    out << cformat("Flagged %lld of %lld rows\n", static_cast<long long>(flags->flagged()),
                   static_cast<long long>(figures.rows));
  }
  return kExitSuccess;
}

}  // namespace

int run_iqwaterfall(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, waterfall_run);
}

}  // namespace iq
