// SPDX-License-Identifier: MIT
// Incoherent dedispersion by the cold-plasma law: a pulse reaches frequency f later than the
// highest frequency by 4.148808 ms x DM x (f^-2 - f_hi^-2), f in GHz, DM in pc cm^-3.
#pragma once

#include <cstdint>
#include <vector>

namespace iq {

// The dispersion constant, ms GHz^2 cm^3 / pc.
inline constexpr double kDispersionMs = 4.148808;

// Seconds by which a pulse at `f_mhz` trails one at `f_hi_mhz`.
double dispersion_delay_s(double dm, double f_mhz, double f_hi_mhz);

// The whole samples (rounded to nearest) by which each of `nchans` channels, channel c at
// fch1 + c foff MHz, trails the highest of them, for samples of `tsamp_s`.
std::vector<std::int64_t> channel_shifts(double dm, double fch1_mhz, double foff_mhz, std::int32_t nchans,
                                         double tsamp_s);

}  // namespace iq
