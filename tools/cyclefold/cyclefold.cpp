// cyclefold: folds the amplitude of the first 1/divisor of a capture at a period into a pulse profile.
#include "cyclefold.hpp"

#include "runs/fold_tool.hpp"

namespace iq {

namespace {

constexpr const char* kCyclefoldUsage =
    "Format: cyclefold <infile> <outfile> <clock rate (MHz)> <output data points> < pulsar period(ms)  <Devisor>>";

}  // namespace

int run_cyclefold(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  static constexpr FoldTool kTool{"cyclefold", kCyclefoldUsage, "Devisor", FoldedValue::amplitude,
      "Folds the amplitude |z| of every complex sample in the first 1/<Devisor> of a capture at a\n"
      "period into <output data points> bins and writes each bin's mean amplitude and sample count."};
  return run_fold_tool(kTool, args, out, err);
}

}  // namespace iq
