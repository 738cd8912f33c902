// SPDX-License-Identifier: MIT
// cyclefold: folds the amplitude of the first 1/divisor of a capture at a period into a pulse profile.
#include "cyclefold.hpp"

#include "runs/fold_tool.hpp"

int iq::run_cyclefold(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_fold_tool(
      {"cyclefold",
       "Format: cyclefold <infile> <outfile> <clock rate (MHz)> <output data points> < pulsar period(ms)  "
       "<Devisor>>",
       "Devisor", FoldedValue::amplitude,
       "Folds the amplitude |z| of every complex sample in the first 1/<Devisor> of a capture at a\n"
       "period into <output data points> bins and writes each bin's mean amplitude and sample count."},
      args, out, err);
}
