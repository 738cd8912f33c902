// SPDX-License-Identifier: MIT
// iqspec: cuts a capture into frames of N complex samples, transforms each and writes the mean
// power per bin, negative frequencies first.
#include "iqspec.hpp"

#include "cli/command.hpp"
#include "cli/console_texts.hpp"
#include "cli/tool_main.hpp"
#include "dsp/spectrum.hpp"
#include "io/capture_reader.hpp"
#include "io/output_file.hpp"
#include "flow/spectrum_run.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

constexpr const char* kIqspecUsage = "Format: iqspec <Infile>  <Outfile> <No. FFT Points>";
constexpr int kIqspecMaxPoints = kSpectrumMaxPoints;

const Command kCommand{
    .tool = "iqspec",
    .usage = kIqspecUsage,
    .summary =
        "Writes the averaged power spectrum of a capture: the mean power in each bin over every\n"
        "whole frame of <No. FFT Points> complex samples, from bin -N/2 to N/2 - 1.",
    .parameters = {text_parameter("Infile"), text_parameter("Outfile"),
                   points_parameter("No. FFT Points", kIqspecMaxPoints, "a power of two from 1 to 131072",
                                    texts::kTooManyFftPoints)},
};

int spectrum_run(Run& run) {
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  CaptureReader capture = open_capture(infile, texts::kCantOpen);
  const std::int32_t points = run.whole32(2);
  require_measurable(capture);
  OutputFile table(outfile, {capture.id()});

  // The length is counted one byte long, so a file one byte short of a whole number of
  // frames still yields its last frame (the missing byte reads as 255).
  const std::int64_t file_end = capture.length() + 1;
  const std::int64_t frames = (file_end / points) / 2;
  run.out() << cformat("Number of Bytes = %lld   No. of FFTs=%lld\n", static_cast<long long>(file_end - 1),
                       static_cast<long long>(frames));

  capture.show_progress(frames * 2 * points);
  const SpectrumAccumulator spectrum = accumulate_spectrum(capture, points, frames);
  write_spectrum_table(table, spectrum, frames);
  table.commit();
  run.out() << cformat("\nInfile=%s    Outfile=%s   FFT Points=%d\n", infile.c_str(), outfile.c_str(), points);
  if (frames == 0) no_whole_unit(infile, cformat("frame of %d samples", points));
  return kExitSuccess;
}

}  // namespace

int run_iqspec(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, spectrum_run);
}

}  // namespace iq
