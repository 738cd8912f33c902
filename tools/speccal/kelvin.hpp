// SPDX-License-Identifier: MIT
// The kelvin scale of a calibrated spectrum: system and receiver temperatures per bin from a
// hot and a cold load (Y factor) or from a noise diode of known temperature.
#pragma once

#include <optional>
#include <vector>

#include "spectrum_table.hpp"

namespace iq {

// The temperatures per bin (the reference tables' bins), kelvin.
struct KelvinScale {
  std::vector<double> system;                   // T_sys of the reference
  std::optional<std::vector<double>> receiver;  // T_rx, known from a Y factor only
};

// Y = P_hot / P_cold per bin, T_rx = (T_hot - Y T_cold) / (Y - 1), T_sys = T_rx + T_cold. A
// ToolError naming the option for tables of other bins, a power of 0 or less, or a bin where
// the hot load's power is not above the cold one's.
KelvinScale y_factor_scale(const SpectrumTable& hot, const SpectrumTable& cold, double t_hot, double t_cold);

// T_sys = T_cal P_off / (P_diode - P_off) per bin; a ToolError naming --diode for a table of
// other bins, or a bin where the diode does not raise the reference's power above 0.
KelvinScale diode_scale(const SpectrumTable& diode, const SpectrumTable& off, double t_cal);

}  // namespace iq
