// SPDX-License-Identifier: MIT
// How a capture was made (sample rate, centre frequency, start time), kept beside it in a
// SigMF metadata file "<base>.sigmf-meta" so that nobody has to type it again.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace iq {

// Where a capture was made (WGS84): degrees north, degrees east, metres above the ellipsoid.
struct Geolocation {
  double latitude_deg = 0.0;
  double longitude_deg = 0.0;
  double height_m = 0.0;
};

// The ranges a geolocation is taken in, the same as those of a site typed on a command line.
inline constexpr double kLeastHeightM = -1000.0;
inline constexpr double kMostHeightM = 10000.0;
bool geolocation_in_range(const Geolocation& place);

// The ICRS direction a capture looked at, degrees: right ascension 0 to 360 (360 excluded),
// declination -90 to 90.
struct SkyPointing {
  double ra_deg = 0.0;
  double dec_deg = 0.0;
};
// RA within 0 to 360 (360 excluded), Dec within -90 to 90 degrees.
bool pointing_in_range(const SkyPointing& pointing);

struct CaptureMetadata {
  std::optional<double> sample_rate_hz;       // core:sample_rate
  std::optional<double> centre_frequency_hz;  // captures[0] core:frequency
  std::optional<std::string> datetime_utc;    // captures[0] core:datetime, ISO 8601 "…Z"
  std::optional<Geolocation> geolocation;     // core:geolocation, a GeoJSON point (height 0 if left out)
  std::optional<SkyPointing> pointing = {};   // iqtools:radec [RA, Dec] (SigMF has no core field)
};

// The metadata file that belongs to a capture: the capture's name with a final ".bin" or
// ".sigmf-data" replaced by ".sigmf-meta" (otherwise ".sigmf-meta" appended).
std::string metadata_path_for(const std::string& capture_path);

// Why a file of this name holds no capture (SigMF metadata, a SigMF archive), or nothing.
std::optional<std::string> not_a_capture_name(const std::string& path);

// Why the capture `capture_path` cannot be read as the tools read every capture (unsigned 8-bit
// I and Q from the first byte to the last), or nothing: its name (not_a_capture_name), or its
// metadata file, which tells of another sample format, several channels, header or trailing
// bytes, samples that start later, or an extension that it requires. One line,
// "<meta path>: <why>". A metadata file that is missing, cannot be parsed, or names another
// file as its dataset ("core:dataset") is no reason.
std::optional<std::string> capture_refusal(const std::string& capture_path);

// Reads the capture's metadata when the file exists. A file that cannot be read as a whole
// (malformed, or one that capture_refusal would refuse) is reported in one line on `err`
// ("<tool>: <meta path>: <why>; ignored") and yields {}; a field that cannot be used is
// reported alone ("...; that field is ignored") and the others are kept. A time with an
// offset from UTC is converted to UTC. Never throws. "-" (standard input) has no metadata.
CaptureMetadata read_capture_metadata(const std::string& capture_path, const std::string& tool, std::ostream& err);

// Writes the metadata file for a capture (datatype "cu8", and unless the capture is named
// "<base>.sigmf-data", its file name as the dataset); throws ToolError on failure, and on
// values the reader would refuse (a rate that is not above 0, a malformed time, a place or a
// pointing out of range). A pointing goes into "iqtools:radec" [RA, Dec], its namespace declared
// as an optional extension.
void write_capture_metadata(const std::string& capture_path, const CaptureMetadata& meta);

// Seconds since 1970-01-01 00:00:00 UTC of a time written "YYYY-MM-DDTHH:MM:SS[.fraction]Z"
// (the form SigMF's core:datetime uses), to within the resolution of a double (a few tenths of
// a microsecond today); nullopt when the text is not of that form or names no real date.
std::optional<double> utc_datetime_seconds(std::string_view text);

// The time `text` written "YYYY-MM-DDTHH:MM:SS[.fraction]" and then "Z" or an offset from UTC
// "+HH:MM" / "-HH:MM", in UTC ("...Z", the fraction as written); nullopt when it is not of that
// form or names no real date.
std::optional<std::string> datetime_as_utc(std::string_view text);

// "YYYY-MM-DDTHH:MM:SSZ" for whole seconds since 1970-01-01 00:00:00 UTC (years 0 to 9999).
std::string utc_datetime_text(std::int64_t seconds_since_1970);

}  // namespace iq
