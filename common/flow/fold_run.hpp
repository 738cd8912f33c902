// SPDX-License-Identifier: MIT
// Folding a capture: its samples pumped into a Folder, and the profile table.
#pragma once

#include <cstdint>
#include <span>

#include "dsp/folding.hpp"
#include "io/capture_reader.hpp"
#include "io/output_file.hpp"

namespace iq {

// Folds the next `samples` complex samples read from `capture` into `folder`; sample indices
// continue from the samples folded so far. Requires
// folder.geometry().phase_fits(folder.next_sample() + samples - 1).
void fold_capture(Folder& folder, CaptureReader& capture, std::int64_t samples);

// Writes one line per bin, "%ld    %3.5f   %lld\n": the bin, its fold_mean and its count.
void write_fold_table(OutputFile& table, std::span<const double> sums, std::span<const std::int64_t> counts);

}  // namespace iq
