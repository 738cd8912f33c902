// SPDX-License-Identifier: MIT
// Rows of frames from a capture or a stream through the batched transforms.
#include "runs/spectrum_rows.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "flow/frame_pump.hpp"
#include "flow/spectrum_run.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

std::vector<OptionSpec> capture_metadata_options() {
  return {{.name = "--rate",
           .alias = "-r",
           .argument = "MHZ",
           .help = "the capture's complex sample rate (instead of the metadata's)"},
          {.name = "--centre",
           .alias = "-c",
           .argument = "MHZ",
           .help = "the receiver's tuned frequency (instead of the metadata's)"},
          {.name = "--center", .argument = "MHZ", .help = "the same as --centre"},
          {.name = "--start",
           .argument = "TIME",
           .help = "the capture's start, YYYY-MM-DDTHH:MM:SS[.fraction]Z in UTC"}};
}

CaptureMetadata given_metadata(const GivenOptions& given) {
  CaptureMetadata meta;
  if (const auto rate = given.value("--rate")) {
    const double mhz = option_number("--rate", *rate);
    require_option(mhz > 0.0, "--rate", "a rate above 0 MHz");
    meta.sample_rate_hz = mhz * 1e6;
  }
  for (const char* name : {"--centre", "--center"}) {
    if (const auto centre = given.value(name)) meta.centre_frequency_hz = option_number(name, *centre) * 1e6;
  }
  if (const auto start = given.value("--start")) {
    require_option(utc_datetime_seconds(*start).has_value(), "--start",
                   "a UTC time YYYY-MM-DDTHH:MM:SS[.fraction]Z (got '" + *start + "')");
    meta.datetime_utc = *start;
  }
  return meta;
}

CaptureMetadata with_given(CaptureMetadata meta, const CaptureMetadata& given) {
  if (given.sample_rate_hz) meta.sample_rate_hz = given.sample_rate_hz;
  if (given.centre_frequency_hz) meta.centre_frequency_hz = given.centre_frequency_hz;
  if (given.datetime_utc) meta.datetime_utc = given.datetime_utc;
  return meta;
}

std::optional<CaptureReader> open_capture_or_stream(const std::string& infile) {
  if (infile == "-") return std::nullopt;
  std::string why;
  auto capture = CaptureReader::open(infile, CaptureReader::kDefaultBufferBytes, &why);
  if (!capture) throw ToolError("Can't open file " + infile + ": " + why);
  if (capture->length() < 0) {
    throw ToolError(infile + " has no length to measure (a pipe or device); give it as \"-\" on standard input");
  }
  return capture;
}

FileId standard_input_id() {
  struct stat info {};
  if (::fstat(STDIN_FILENO, &info) != 0) throw ToolError(system_error_text("Can't read standard input", errno));
  return FileId{info.st_dev, info.st_ino};
}

const char* signal_name(int signal_number) {
  switch (signal_number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

std::int64_t whole_frames(const CaptureReader& capture, std::int32_t points) {
  return ((capture.length() + 1) / points) / 2;
}

void require_whole_row(const CaptureReader& capture, std::int32_t points, std::int64_t frames_per_row,
                       const char* row) {
  const std::int64_t frames = whole_frames(capture, points);
  if (frames >= frames_per_row) return;
  throw ToolError(cformat("%s holds no whole %s: %lld bytes, %lld whole frames of the %lld a %s takes",
                          capture.path().c_str(), row, static_cast<long long>(capture.length()),
                          static_cast<long long>(frames), static_cast<long long>(frames_per_row), row));
}

RowFigures file_rows(const CaptureReader& capture, std::int32_t points, std::int64_t frames_per_row) {
  const std::int64_t frames = whole_frames(capture, points);
  RowFigures figures;
  figures.bytes = capture.length();
  figures.rows = frames / frames_per_row;
  const std::int64_t used = figures.rows * frames_per_row;
  figures.partial_frames = frames - used;
  figures.left_out = figures.bytes - used * 2 * points;
  return figures;
}

void report_row_ends(std::ostream& err, std::string_view tool, const RowFigures& figures,
                     std::int64_t frames_per_row, const char* row) {
  if (figures.rows == 0) {
    throw ToolError(
        cformat("standard input ended before a whole %s: %lld bytes, %lld whole frames of the %lld a %s "
                "takes",
                row, static_cast<long long>(figures.bytes), static_cast<long long>(figures.partial_frames),
                static_cast<long long>(frames_per_row), row));
  }
  if (figures.left_out > 0) {
    err << cformat("%.*s: left out a partial last %s: %lld bytes, %lld whole frames of the %lld a %s takes\n",
                   static_cast<int>(tool.size()), tool.data(), row, static_cast<long long>(figures.left_out),
                   static_cast<long long>(figures.partial_frames), static_cast<long long>(frames_per_row), row);
  }
}

namespace {

// Adds the frames of a run to the row's spectrum in order and hands on each completed row.
class RowCollector {
 public:
  RowCollector(SpectrumFrames& batches, std::int32_t points, std::int64_t frames_per_row, const RowSink& sink)
      : batches_(batches), row_(points), frames_per_row_(frames_per_row), sink_(sink) {}

  // Frames the current row still lacks.
  std::int64_t frames_wanted() const { return frames_per_row_ - in_row_; }
  std::int64_t frames_in_row() const { return in_row_; }
  std::int64_t rows() const { return rows_; }

  // Adds the batch's frames [first, last).
  void add(std::size_t first, std::size_t last) {
    while (first < last) {
      const auto take = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(last - first), frames_wanted()));
      batches_.add(row_, first, first + take);
      in_row_ += static_cast<std::int64_t>(take);
      first += take;
      if (in_row_ == frames_per_row_) {
        sink_(row_, batches_.workers());
        row_.clear();
        in_row_ = 0;
        ++rows_;
      }
    }
  }

 private:
  SpectrumFrames& batches_;
  SpectrumAccumulator row_;
  std::int64_t frames_per_row_;
  const RowSink& sink_;
  std::int64_t in_row_ = 0;
  std::int64_t rows_ = 0;
};

}  // namespace

void spectrum_rows_of_file(CaptureReader& capture, std::int32_t points, std::int64_t frames_per_row,
                           const RowFigures& figures, const RowSink& sink) {
  const std::int64_t used = figures.rows * frames_per_row;
  if (used == 0) return;
  capture.show_progress(used * 2 * points);
  SpectrumFrames batches(points, used);
  RowCollector rows(batches, points, frames_per_row, sink);
  SpectrumFeed feed(batches, [&](std::size_t count) { rows.add(0, count); });
  pump_frames(capture, 2 * static_cast<std::size_t>(points), used, feed);
}

RowFigures spectrum_rows_of_stream(LiveInput& input, std::int32_t points, std::int64_t frames_per_row,
                                   const RowSink& sink) {
  SpectrumFrames batches(points, -1);
  RowCollector rows(batches, points, frames_per_row, sink);
  // A batch never reaches past the current row, so that the row is handed on as soon as its
  // last frame is in.
  SpectrumFeed feed(
      batches, [&](std::size_t count) { rows.add(0, count); }, [&] { return rows.frames_wanted(); });
  pump_stream(input, 2 * static_cast<std::size_t>(points), feed);
  RowFigures figures;
  figures.bytes = input.bytes_read();
  figures.rows = rows.rows();
  figures.partial_frames = rows.frames_in_row();
  figures.left_out = figures.bytes - figures.rows * frames_per_row * 2 * points;
  return figures;
}

}  // namespace iq
