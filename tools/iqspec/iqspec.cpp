// iqspec: cuts a capture into frames of N complex samples, transforms each and writes the mean
// power per bin, negative frequencies first.
#include "iqspec.hpp"

#include "io/capture_reader.hpp"
#include "cli/console_texts.hpp"
#include "io/output_file.hpp"
#include "flow/spectrum_run.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

int run_iqspec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded("iqspec", out, err, [&] {
    if (!has_argument_count("iqspec", args, 3, kIqspecUsage, out, err)) return kExitFailure;
    const std::string& infile = args[0];
    const std::string& outfile = args[1];
    auto capture = open_capture("iqspec", infile, texts::kCantOpen, out, err);
    if (!capture) return kExitFailure;
    const std::int32_t points = whole_argument32("No. FFT Points", args[2]);
    if (points > kIqspecMaxPoints) {
      out << texts::kTooManyFftPoints;
      report_too_many_points(out, err, "iqspec", "No. FFT Points", args[2], kIqspecMaxPoints);
      return kExitFailure;
    }
    if (!is_power_of_two(points)) {
      refuse_parameter(err, "iqspec", "No. FFT Points", "a power of two from 1 to 131072", args[2]);
      return kExitFailure;
    }
    require_measurable(*capture);
    OutputFile table(outfile, {capture->id()});

    // The length is counted one byte long, so a file one byte short of a whole number of
    // frames still yields its last frame (the missing byte reads as 255).
    const std::int64_t file_end = capture->length() + 1;
    const std::int64_t frames = (file_end / points) / 2;
    out << cformat("Number of Bytes = %lld   No. of FFTs=%lld\n",
                   static_cast<long long>(file_end - 1), static_cast<long long>(frames));

    capture->show_progress(frames * 2 * points);
    const SpectrumAccumulator spectrum = accumulate_spectrum(*capture, points, frames);
    write_spectrum_table(table, spectrum, frames);
    table.commit();
    out << cformat("\nInfile=%s    Outfile=%s   FFT Points=%d\n", infile.c_str(), outfile.c_str(),
                   atoi32(args[2]));
    if (frames == 0) return no_whole_unit(err, "iqspec", infile, cformat("frame of %d samples", points));
    return kExitSuccess;
  });
}

}  // namespace iq
