// SPDX-License-Identifier: MIT
// The dispersion measures cyclesearch tries: one, or a range of trials from --dm FROM:TO[:STEP].
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "io/pulsar_files.hpp"

namespace iq {

// The most DM trials one search takes.
inline constexpr std::size_t kMaxDmTrials = 1000;

// The DM step by which the delay of the band's lowest channel behind its highest changes by
// one sample: finer trials give the same dedispersed series.
double default_dm_step(const PulsarHeader& header);

// The DM step by which the delay of the band's lowest channel behind its highest changes by
// `seconds`.
double dm_step_for(const PulsarHeader& header, double seconds);

// The DMs of --dm's value: "DM", or "FROM:TO[:STEP]" from FROM up to TO (within a millionth of
// a step) by STEP (default_dm_step when left out). A ToolError refuses a malformed value, a
// negative DM, a range with no trials or more than kMaxDmTrials.
std::vector<double> dm_trials(const std::string& text, const PulsarHeader& header);

}  // namespace iq
