// SPDX-License-Identifier: MIT
// The dispersion delays of the channels of a filterbank.
#include "dsp/dispersion.hpp"

#include <algorithm>
#include <cmath>

namespace iq {

double dispersion_delay_s(double dm, double f_mhz, double f_hi_mhz) {
  const double f_ghz = f_mhz / 1000.0, f_hi_ghz = f_hi_mhz / 1000.0;
  return kDispersionMs * dm * (1.0 / (f_ghz * f_ghz) - 1.0 / (f_hi_ghz * f_hi_ghz)) / 1000.0;
}

std::vector<std::int64_t> channel_shifts(double dm, double fch1_mhz, double foff_mhz, std::int32_t nchans,
                                         double tsamp_s) {
  const double highest = foff_mhz < 0.0 ? fch1_mhz : fch1_mhz + (nchans - 1) * foff_mhz;
  std::vector<std::int64_t> shifts(static_cast<std::size_t>(nchans));
  for (std::int32_t c = 0; c < nchans; ++c) {
    const double delay = dispersion_delay_s(dm, fch1_mhz + c * foff_mhz, highest);
    shifts[static_cast<std::size_t>(c)] = static_cast<std::int64_t>(std::llround(delay / tsamp_s));
  }
  return shifts;
}

}  // namespace iq
