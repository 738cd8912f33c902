// SPDX-License-Identifier: MIT
// cyclestack: folds the power of a whole capture at a period into a pulse profile, with the total sample count.
#include "cyclestack.hpp"

#include "runs/fold_tool.hpp"

int iq::run_cyclestack(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_fold_tool(
      {"cyclestack",
       "Format: cyclestack <infile> <outfile> <clock rate (MHz)> <output data points> < pulsar period(ms)>",
       nullptr, FoldedValue::power,
       "Folds the power |z|^2 of every complex sample of a whole capture at a period into <output\n"
       "data points> bins and writes each bin's mean power and sample count, with the total folded."},
      args, out, err);
}
