// modspec: transforms the video points of a capture frame by frame and writes the summed bin
// magnitudes of the lower half, divided by a common scale.
#include "modspec.hpp"

#include <cmath>
#include <string>

#include "cli/console_texts.hpp"
#include "cli/video_arguments.hpp"
#include "flow/video_points.hpp"
#include "dsp/fft.hpp"
#include "dsp/folding.hpp"
#include "io/output_file.hpp"
#include "arith/precision.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

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
        sums[i] = add_extended_fast(sums[i], magnitude);  // the same sum, proven in double (folding.cpp)
      }
    }
  }
  return sums;
}

int run_modspec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded("modspec", out, err, [&] {
    if (!has_argument_count("modspec", args, 5, kModspecUsage, out, err)) return kExitFailure;
    const std::string& infile = args[0];
    const std::string& outfile = args[1];
    auto capture = open_capture("modspec", infile, texts::kCantOpen, out, err);
    if (!capture) return kExitFailure;
    const std::int32_t n = whole_argument32("fft size", args[4]);
    if (n > kModspecMaxPoints) {
      out << texts::kTooManyFftPoints;
      report_too_many_points(out, err, "modspec", "fft size", args[4], kModspecMaxPoints);
      return kExitFailure;
    }
    const auto detector = video_detector_from_arguments("modspec", args[2], args[3], err);
    if (!detector) return kExitFailure;
    if (!is_power_of_two(n)) {
      refuse_parameter(err, "modspec", "fft size", "a power of two from 1 to 262144", args[4]);
      return kExitFailure;
    }
    require_measurable(*capture);
    OutputFile table(outfile, {capture->id()});

    const std::int64_t file_end = capture->length();
    const ModulationCounts counts = modulation_counts(file_end, detector->samples_per_point, n);
    const float divisor = modulation_divisor(counts.used_points);
    out << cformat("Clock us=%1.4f    No. FFTs=%lld\n", static_cast<double>(detector->sample_period_us()),
                   static_cast<long long>(counts.frames));
    out << cformat("No. Bytes = %lld   Video Points=%lld  VideoSamples=%ld  FFT-points=%ld\n",
                   static_cast<long long>(file_end), static_cast<long long>(counts.video_points),
                   static_cast<long>(detector->samples_per_point), static_cast<long>(n));

    capture->show_progress(counts.used_points * 2 * detector->samples_per_point);
    const std::vector<double> sums = accumulate_modulation(*capture, *detector, n, counts.frames);
    std::string lines;
    for (std::size_t i = 0; i < sums.size(); ++i) {
      const auto value = static_cast<double>(static_cast<extended>(sums[i]) / divisor);
      lines += cformat("%ld    %3.6f\n", static_cast<long>(i), value);
    }
    table.write(lines);
    table.commit();
    out << cformat(texts::kInfileOutfileLine, infile.c_str(), outfile.c_str());
    if (counts.frames == 0) {
      return no_whole_unit(err, "modspec", infile,
                           cformat("frame of %d video points of %lld samples", n,
                                   static_cast<long long>(detector->samples_per_point)));
    }
    return kExitSuccess;
  });
}

}  // namespace iq
