// SPDX-License-Identifier: MIT
// The run of the folding tools.
#include "runs/fold_tool.hpp"

#include <cmath>
#include <string>

#include "flow/fold_run.hpp"
#include "io/capture_reader.hpp"
#include "cli/console_texts.hpp"
#include "io/output_file.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

void check_fold_clock_and_period(const FoldGeometry& geometry, double clock_mhz, const std::string& clock_text,
                                 const std::string& period_text) {
  if (!(std::isfinite(clock_mhz) && clock_mhz > 0.0 && std::isfinite(geometry.clck))) {
    refuse_parameter(kFoldClock.name, kFoldClock.range, clock_text);
  }
  if (!(std::isfinite(geometry.periodf) && geometry.periodf > 0.0)) {
    refuse_parameter(kFoldPeriod.name, kFoldPeriod.range, period_text);
  }
}

void check_phase_range(const std::string& period_text, const FoldGeometry& geometry, std::int64_t samples) {
  if (samples < 1 || geometry.phase_fits(samples - 1)) return;
  const double shortest_ms = static_cast<double>(geometry.points) * geometry.clck * static_cast<double>(samples) /
                             (1000.0 * 9223372036854775808.0);
  refuse_parameter(kFoldPeriod.name,
                   cformat("longer than %.3g for this clock rate, point count and file length", shortest_ms),
                   period_text);
}

Command fold_command(const FoldTool& tool) {
  Command command{
      .tool = tool.name,
      .usage = tool.usage,
      .summary = tool.summary,
      .parameters = {text_parameter("Infile"), text_parameter("Outfile"), kFoldClock,
                     whole_parameter("output data points", 1, kMaxFoldPoints), kFoldPeriod},
  };
  if (tool.divisor_label != nullptr) {
    command.parameters.push_back(whole_parameter(tool.divisor_label, 1, INT32_MAX, "a whole number of 1 or more"));
  }
  return command;
}

namespace {

// Converts the numeric arguments (every one is a number before any range is checked) and
// refuses those that would divide by zero, overrun the bin tables or give a phase that is not
// a finite number.
FoldGeometry fold_parameters(const Run& run, std::int32_t& divisor) {
  run.convert_numbers();
  const std::int32_t points = run.whole32(3);
  divisor = run.count() > 5 ? run.whole32(5) : 1;
  const double clock_mhz = run.number(2);
  const FoldGeometry geometry = fold_geometry(clock_mhz, points, run.number(4));
  check_fold_clock_and_period(geometry, clock_mhz, run.text(2), run.text(4));
  return geometry;
}

int fold_run(const FoldTool& tool, Run& run) {
  std::ostream& out = run.out();
  const bool whole_file = tool.divisor_label == nullptr;
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  CaptureReader capture = open_capture(infile, texts::kCantOpenLine);
  std::int32_t divisor = 1;
  const FoldGeometry geometry = fold_parameters(run, divisor);
  require_measurable(capture);

  const std::int64_t file_end = capture.length() / divisor;
  const std::int64_t p_num = file_end / (2 * geometry.points);
  const std::int64_t samples = p_num * geometry.points;
  check_phase_range(run.text(4), geometry, samples);
  // Created before the scan, so that an outfile that cannot be written is reported at once;
  // it appears under its name only when the table is complete.
  OutputFile table(outfile, {capture.id()});

  out << cformat(whole_file ? "No. Bytes = %lld   No. Blocks=%lld   PPeriod=%fms\n"
                            : "No. Bytes = %lld   No. of Blocks=%lld   PPeriod=%fms\n",
                 static_cast<long long>(file_end), static_cast<long long>(p_num), geometry.periodf);
  out.flush();

  Folder folder(geometry, tool.value);
  capture.show_progress(samples * 2);
  fold_capture(folder, capture, samples);
  const std::int32_t tim = folder.last_bin();
  const auto tim_count = static_cast<long long>(folder.counts()[static_cast<std::size_t>(tim)]);
  out << cformat(whole_file ? "No. bins=%d  Count/bin=%lld\n" : "No bins=%d    Count/bin=%lld\n", geometry.points,
                 tim_count);

  write_fold_table(table, folder.sums(), folder.counts());
  table.commit();
  if (whole_file) {
    out << cformat("\nInfile=%s    Outfile=%s   End bin=%d   coun=%lld\n", infile.c_str(), outfile.c_str(), tim,
                   static_cast<long long>(folder.folded()));
  } else {
    out << cformat("\nInfile=%s    Outfile=%s   End bin=%d\n", infile.c_str(), outfile.c_str(), tim);
  }
  if (p_num == 0) {
    const std::string part = divisor == 1 ? infile : cformat("1/%d of %s", divisor, infile.c_str());
    no_whole_unit(part, cformat("block of %d samples", geometry.points));
  }
  return kExitSuccess;
}

}  // namespace

int run_fold_tool(const FoldTool& tool, const ToolArgs& args, std::ostream& out, std::ostream& err) {
  const Command command = fold_command(tool);
  return run_program(command, args, out, err, [&](Run& run) { return fold_run(tool, run); });
}

}  // namespace iq
