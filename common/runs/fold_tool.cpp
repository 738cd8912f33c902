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

bool check_fold_points(std::string_view tool, std::int32_t points, std::int32_t least,
                       const std::string& given, std::ostream& err) {
  if (points >= least && points <= kMaxFoldPoints) return true;
  refuse_parameter(err, tool, "output data points", cformat("from %d to %d", least, kMaxFoldPoints), given);
  return false;
}

bool check_fold_clock_and_period(std::string_view tool, const FoldGeometry& geometry, double clock_mhz,
                                 const std::string& clock_text, const std::string& period_text,
                                 std::ostream& err) {
  if (!(std::isfinite(clock_mhz) && clock_mhz > 0.0 && std::isfinite(geometry.clck))) {
    refuse_parameter(err, tool, "clock rate (MHz)",
                     "a finite number above 0 whose reciprocal fits single precision (3e-39 or more)",
                     clock_text);
    return false;
  }
  if (!(std::isfinite(geometry.periodf) && geometry.periodf > 0.0)) {
    refuse_parameter(err, tool, "pulsar period(ms)", "a finite number above 0", period_text);
    return false;
  }
  return true;
}

bool check_phase_range(std::string_view tool, const std::string& period_text, const FoldGeometry& geometry,
                       std::int64_t samples, std::ostream& err) {
  if (samples < 1 || geometry.phase_fits(samples - 1)) return true;
  const double shortest_ms = static_cast<double>(geometry.points) * geometry.clck *
                             static_cast<double>(samples) / (1000.0 * 9223372036854775808.0);
  refuse_parameter(err, tool, "pulsar period(ms)",
                   cformat("longer than %.3g for this clock rate, point count and file length",
                           shortest_ms),
                   period_text);
  return false;
}

namespace {

struct FoldParameters {
  FoldGeometry geometry;
  std::int32_t divisor = 1;
};

// Converts the numeric arguments (clock rate, points, period, divisor, in this order) and
// refuses those that would divide by zero, overrun the bin tables or give a phase that is not
// a finite number. Prints the refusal and returns false.
bool convert_parameters(const FoldTool& tool, const ToolArgs& args, FoldParameters& parameters,
                        std::ostream& err) {
  const double clock_mhz = number_argument("clock rate (MHz)", args[2]);
  const std::int32_t points = whole_argument32("output data points", args[3]);
  const double period_ms = number_argument("pulsar period(ms)", args[4]);
  if (tool.divisor_label != nullptr) parameters.divisor = whole_argument32(tool.divisor_label, args[5]);
  parameters.geometry = fold_geometry(clock_mhz, points, period_ms);

  if (!check_fold_points(tool.name, points, 1, args[3], err)) return false;
  if (parameters.divisor < 1) {
    refuse_parameter(err, tool.name, tool.divisor_label, "a whole number of 1 or more", args[5]);
    return false;
  }
  return check_fold_clock_and_period(tool.name, parameters.geometry, clock_mhz, args[2], args[4], err);
}

}  // namespace

int run_fold_tool(const FoldTool& tool, const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded(tool.name, out, err, [&] {
    const bool whole_file = tool.divisor_label == nullptr;
    if (!has_argument_count(tool.name, args, whole_file ? 5u : 6u, tool.usage, out, err)) return kExitFailure;
    const std::string& infile = args[0];
    const std::string& outfile = args[1];
    auto capture = open_capture(tool.name, infile, texts::kCantOpenLine, out, err);
    if (!capture) return kExitFailure;
    FoldParameters parameters;
    if (!convert_parameters(tool, args, parameters, err)) return kExitFailure;
    const FoldGeometry& geometry = parameters.geometry;
    require_measurable(*capture);

    const std::int64_t file_end = capture->length() / parameters.divisor;
    const std::int64_t p_num = file_end / (2 * geometry.points);
    const std::int64_t samples = p_num * geometry.points;
    if (!check_phase_range(tool.name, args[4], geometry, samples, err)) return kExitFailure;
    // Created before the scan, so that an outfile that cannot be written is reported at once;
    // it appears under its name only when the table is complete.
    OutputFile table(outfile, {capture->id()});

    out << cformat(whole_file ? "No. Bytes = %lld   No. Blocks=%lld   PPeriod=%fms\n"
                              : "No. Bytes = %lld   No. of Blocks=%lld   PPeriod=%fms\n",
                   static_cast<long long>(file_end), static_cast<long long>(p_num), geometry.periodf);
    out.flush();

    Folder folder(geometry, tool.value);
    capture->show_progress(samples * 2);
    fold_capture(folder, *capture, samples);
    const std::int32_t tim = folder.last_bin();
    const auto tim_count = static_cast<long long>(folder.counts()[static_cast<std::size_t>(tim)]);
    out << cformat(whole_file ? "No. bins=%d  Count/bin=%lld\n" : "No bins=%d    Count/bin=%lld\n",
                   geometry.points, tim_count);

    write_fold_table(table, folder.sums(), folder.counts());
    table.commit();
    if (whole_file) {
      out << cformat("\nInfile=%s    Outfile=%s   End bin=%d   coun=%lld\n", infile.c_str(),
                     outfile.c_str(), tim, static_cast<long long>(folder.folded()));
    } else {
      out << cformat("\nInfile=%s    Outfile=%s   End bin=%d\n", infile.c_str(), outfile.c_str(), tim);
    }
    if (p_num == 0) {
      const std::string part =
          parameters.divisor == 1 ? infile : cformat("1/%d of %s", parameters.divisor, infile.c_str());
      return no_whole_unit(err, tool.name, part, cformat("block of %d samples", geometry.points));
    }
    return kExitSuccess;
  });
}

}  // namespace iq
