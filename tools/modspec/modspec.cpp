// SPDX-License-Identifier: MIT
// modspec: transforms the video points of a capture frame by frame and writes the summed bin
// magnitudes of the lower half, divided by a common scale.
#include "modspec.hpp"

#include <cmath>
#include <string>

#include "cli/console_texts.hpp"
#include "cli/video_arguments.hpp"
#include "flow/video_points.hpp"
#include "dsp/fft.hpp"
#include "arith/extended_sum.hpp"
#include "io/output_file.hpp"
#include "arith/precision.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/command.hpp"
#include "cli/video_arguments.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kModspecUsage =
    "Format: modspec <infile> <outfile> <clock rate (MHz) <video band (kHz)> <fft size>";
constexpr std::int32_t kModspecMaxPoints = 262144;

}  // namespace

ModulationCounts modulation_counts(std::int64_t file_bytes, std::int64_t samples_per_point, std::int32_t n) {
  ModulationCounts counts;
  counts.video_points = file_bytes / (2 * samples_per_point);
  counts.frames = counts.video_points / n;
  counts.used_points = n * counts.frames;
  return counts;
}

float modulation_divisor(std::int64_t used_points) {
  return static_cast<float>(std::sqrt(static_cast<double>(widen(2.0) * static_cast<extended>(used_points))));
}

std::vector<double> accumulate_modulation(CaptureReader& capture, const VideoDetector& detector, std::int32_t n,
                                          std::int64_t frames) {
  const auto points = static_cast<std::size_t>(n);
  const FftPlan plan(n, -1);
  VideoPointReader reader(capture, detector);
  std::vector<double> values(points);
  std::vector<double> frame(2 * points);
  std::vector<double> sums(points / 2, 0.0);
  for (std::int64_t f = 0; f < frames; ++f) {
    reader.read(values);
    for (std::size_t j = 0; j < points; ++j) {
      frame[2 * j] = values[j];
      frame[2 * j + 1] = 0.0;
    }
    plan.transform(frame.data());
    // Magnitudes, not powers: each root is rounded to single before it joins the double sum.
    for (std::size_t i = 0; i < sums.size(); ++i) {
      const extended re = frame[2 * i];
      const extended im = frame[2 * i + 1];
      const auto magnitude = static_cast<float>(std::sqrt(static_cast<double>(re * re + im * im)));
      if constexpr (kHardwareExtended) {
        sums[i] = static_cast<double>(static_cast<extended>(sums[i]) + magnitude);
      } else {
        sums[i] = add_extended(sums[i], magnitude);  // the same sum, proven in double
      }
    }
  }
  return sums;
}

namespace {

// A power of two from 2 up: a one-point frame has no bin below its middle to write.
constexpr Parameter fft_size_parameter() {
  Parameter size =
      points_parameter("fft size", kModspecMaxPoints, "a power of two from 2 to 262144", texts::kTooManyFftPoints);
  size.least = 2;
  return size;
}

const Command kCommand{
    .tool = "modspec",
    .usage = kModspecUsage,
    .summary =
        "Detects the power of a capture in a video band, as powtrace does, then transforms that\n"
        "series in frames of <fft size> points and writes the summed magnitude per frequency.",
    .parameters = {text_parameter("Infile"), text_parameter("Outfile"), kVideoClock, kVideoBand,
                   fft_size_parameter()},
};

int modulation_run(Run& run) {
  std::ostream& out = run.out();
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  CaptureReader capture = open_capture(infile, texts::kCantOpen);
  const std::int32_t n = run.whole32(4);
  const VideoDetector detector = video_detector_argument(run, 2, 3);
  require_measurable(capture);
  OutputFile table(outfile, {capture.id()});
  const std::int64_t file_end = capture.length();
  const ModulationCounts counts = modulation_counts(file_end, detector.samples_per_point, n);
  const float divisor = modulation_divisor(counts.used_points);
  out << cformat("Clock us=%1.4f    No. FFTs=%lld\n", static_cast<double>(detector.sample_period_us()),
                 static_cast<long long>(counts.frames));
  out << cformat("No. Bytes = %lld   Video Points=%lld  VideoSamples=%ld  FFT-points=%ld\n",
                 static_cast<long long>(file_end), static_cast<long long>(counts.video_points),
                 static_cast<long>(detector.samples_per_point), static_cast<long>(n));

  capture.show_progress(counts.used_points * 2 * detector.samples_per_point);
  const std::vector<double> sums = accumulate_modulation(capture, detector, n, counts.frames);
  std::string lines;
  for (std::size_t i = 0; i < sums.size(); ++i) {
    const auto value = static_cast<double>(static_cast<extended>(sums[i]) / divisor);
    lines += cformat("%ld    %3.6f\n", static_cast<long>(i), value);
  }
  table.write(lines);
  table.commit();
  out << cformat(texts::kInfileOutfileLine, infile.c_str(), outfile.c_str());
  if (counts.frames == 0) {
    no_whole_unit(infile, cformat("frame of %d video points of %lld samples", n,
                                  static_cast<long long>(detector.samples_per_point)));
  }
  return kExitSuccess;
}

}  // namespace

int run_modspec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, modulation_run);
}

}  // namespace iq
