// SPDX-License-Identifier: MIT
// powtrace: sums the power of consecutive runs of samples set by the sample rate and the video
// bandwidth, and writes the value of each run (a video point) as one table line.
#include "powtrace.hpp"

#include <string>
#include <vector>

#include "cli/console_texts.hpp"
#include "cli/video_arguments.hpp"
#include "flow/video_points.hpp"
#include "io/fixed_format.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"
#include "cli/video_arguments.hpp"

namespace iq {

namespace {

constexpr const char* kPowtraceUsage =
    "Format: powtrace <infile> <outfile> <clock rate (MHz) <video band (kHz)> <file divisor>";

}  // namespace

void write_power_trace(CaptureReader& capture, const VideoDetector& detector, std::int64_t points,
                       OutputFile& table) {
  constexpr std::int64_t kBatchPoints = 4096;
  VideoPointReader reader(capture, detector);
  std::vector<double> values(static_cast<std::size_t>(kBatchPoints));
  std::string lines;
  lines.reserve(64 * kBatchPoints);
  for (std::int64_t first = 0; first < points; first += kBatchPoints) {
    const std::int64_t count = std::min(kBatchPoints, points - first);
    reader.read(std::span(values.data(), static_cast<std::size_t>(count)));
    for (std::int64_t k = 0; k < count; ++k) {
      append_integer(lines, first + k);
      lines += "   ";
      append_fixed(lines, values[static_cast<std::size_t>(k)], 8);
      lines += '\n';
    }
    table.write(lines);
    lines.clear();
  }
}

namespace {

const Command kCommand{
    .tool = "powtrace",
    .usage = kPowtraceUsage,
    .summary =
        "Detects the power of the first 1/<file divisor> of a capture in a video band: sums the\n"
        "power of consecutive runs of <clock rate> x 1000 / <video band> samples and writes each\n"
        "run's value (a video point) as one line.",
    .parameters = {text_parameter("Infile"), text_parameter("Outfile"), kVideoClock, kVideoBand,
                   whole_parameter("file divisor", 1, INT32_MAX, "a whole number from 1 to 2147483647")},
};

int power_run(Run& run) {
  std::ostream& out = run.out();
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  CaptureReader capture = open_capture(infile, texts::kCantOpen);
  const VideoDetector detector = video_detector_argument(run, 2, 3);
  const std::int32_t divisor = run.whole32(4);
  require_measurable(capture);
  OutputFile table(outfile, {capture.id()});

  const std::int64_t per_point = detector.samples_per_point;
  out << cformat("RF/Video=%lld    Data Clock=%1.2fus   Video BW=%fkHz\n", static_cast<long long>(per_point),
                 static_cast<double>(detector.sample_period_us()), static_cast<double>(detector.band_khz));
  const std::int64_t file_end = capture.length() / divisor;
  const std::int64_t points = (file_end / per_point) / 2;
  out << cformat("No. Bytes = %lld   No. of Blocks=%lld  VideoSamples=%lld  Divisor=%d\n",
                 static_cast<long long>(file_end), static_cast<long long>(points),
                 static_cast<long long>(per_point), divisor);

  capture.show_progress(points * 2 * per_point);
  write_power_trace(capture, detector, points, table);
  table.commit();
  out << cformat(texts::kInfileOutfileLine, infile.c_str(), outfile.c_str());
  if (points == 0) {
    no_whole_unit(divisor == 1 ? infile : cformat("1/%d of %s", divisor, infile.c_str()),
                  cformat("video point of %lld samples", static_cast<long long>(per_point)));
  }
  return kExitSuccess;
}

}  // namespace

int run_powtrace(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, power_run);
}

}  // namespace iq
