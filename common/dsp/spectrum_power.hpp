// SPDX-License-Identifier: MIT
// The single-precision power of every bin of a transformed frame (2 bins doubles, real part
// first): RN24(re re + im im) evaluated in extended precision.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iq {

// In extended precision, bin by bin.
void frame_power_extended(const double* frame, float* power, std::size_t bins);

// The same bits by the vector kernel of the chosen target (dsp/vector_target.hpp), each bin
// proven or redone in extended precision; the extended evaluation where there is no kernel.
void frame_power_fastest(const double* frame, float* power, std::size_t bins);

// The powers of n points of transformed frames in lane layout (FftPlan::transform_bytes_lanes:
// point k of lane l at data[16 k + l] and data[16 k + 8 + l]) into power[8 k + l], with the
// bits of frame_power_extended; by the vector kernel where there is one.
void lane_power_fastest(const double* data, std::size_t points, float* power);

// The powers of a transform by FftPlan::transform_bytes_plain (lane layout, as above) into
// power[8 k + l], each value of lane l (l below `frames`) within distance[l] of the extended
// transform's. A bin
// whose power is not proven to be frame_power_extended's bits (to be redone) is listed in
// `unproven` as 8 k + l, up to `capacity` of them; returns how many there were (possibly more
// than capacity). Lanes from `frames` on are left out.
std::size_t lane_power_near(const double* data, std::size_t points, std::size_t frames, const double* distance,
                            float* power, std::uint32_t* unproven, std::size_t capacity);

}  // namespace iq
