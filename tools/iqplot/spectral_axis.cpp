// SPDX-License-Identifier: MIT
// Frequency and velocity axes of spectra and waterfalls.
#include "spectral_axis.hpp"

#include "io/text_format.hpp"

namespace iq {

std::string script_number(double value) { return cformat("%.15g", value); }

Axis spectral_axis(const PlotSettings& s, std::int64_t points) {
  if (!s.rate_mhz) return {"$1", cformat("Frequency bin (of %lld)", static_cast<long long>(points))};
  const double centre = s.centre_mhz.value_or(0.0);
  const double bin_mhz = *s.rate_mhz / static_cast<double>(points);
  const std::string frequency = script_number(centre) + " + $1 * " + script_number(bin_mhz);
  if (s.velocity_rest_mhz && s.centre_mhz) {
    const double rest = *s.velocity_rest_mhz;
    const double correction = s.velocity_correction_kms;
    std::string velocity = script_number(kLightKmPerS) + " * (" + script_number(rest) + " - (" + frequency +
                           ")) / " + script_number(rest);
    if (correction != 0.0) velocity += " + " + script_number(correction);
    return {velocity,
            s.velocity_frame + " radial velocity (km/s, radio convention, rest frequency " + script_number(rest) +
                " MHz)",
            -kLightKmPerS * bin_mhz / rest, kLightKmPerS * (rest - centre) / rest + correction};
  }
  return {frequency, s.centre_mhz ? "Frequency (MHz)" : "Offset from the centre frequency (MHz)", bin_mhz, centre};
}

}  // namespace iq
