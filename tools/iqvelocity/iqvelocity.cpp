// SPDX-License-Identifier: MIT
// iqvelocity: prints the corrections that turn a topocentric radial velocity into a barycentric
// and a kinematic-LSR one, for planning an observation and checking other tools' frames.
#include "iqvelocity.hpp"

#include "astro/observation_options.hpp"
#include "cli/command.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

const Command kCommand{
    .tool = "iqvelocity",
    .usage =
        "Usage: iqvelocity --site LAT,LON[,HEIGHT_M] --radec RA,DEC|--galactic L,B|--azel AZ,EL "
        "--start TIME",
    .summary =
        "Prints the radial-velocity corrections (km/s, to add to a topocentric radial velocity)\n"
        "to the solar-system barycentre and to the kinematic local standard of rest, and the\n"
        "observer's barycentric velocity along the line of sight over c, one name=value a line,\n"
        "with the pointing's ICRS right ascension and declination.",
    .options = observation_options(),
    .usage_on_console = false,
};

int velocity_run(Run& run) {
  const Observation observation = observation_from_options(run.options());
  const VelocityCorrections c = velocity_corrections(observation.site, observation.pointing, observation.start);
  run.out() << cformat("ra_deg=%.6f\ndec_deg=%.6f\nbarycentric_kms=%.4f\nlsrk_kms=%.4f\nv_over_c=%.10e\n",
                       observation.pointing.ra_deg, observation.pointing.dec_deg, c.barycentric_kms, c.lsrk_kms,
                       c.v_over_c);
  return kExitSuccess;
}

}  // namespace

int run_iqvelocity(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, velocity_run);
}

}  // namespace iq
