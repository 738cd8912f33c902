// SPDX-License-Identifier: MIT
// cyclebin: folds the power of the first 1/divisor of a capture at a period into a pulse profile.
#include "cyclebin.hpp"

#include "runs/fold_tool.hpp"

int iq::run_cyclebin(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_fold_tool(
      {"cyclebin",
       "Format: cyclebin <infile> <outfile> <clock rate (MHz)> <output data points> < pulsar period(ms)  <file "
       "divisor>>",
       "file divisor", FoldedValue::power,
       "Folds the power |z|^2 of every complex sample in the first 1/<file divisor> of a capture at\n"
       "a period into <output data points> bins and writes each bin's mean power and sample count."},
      args, out, err);
}
