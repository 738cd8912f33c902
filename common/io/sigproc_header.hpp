// SPDX-License-Identifier: MIT
// The binary header of the pulsar software's filterbank files (SIGPROC): keywords, each an
// int32 length and its characters, followed by an int32 or a float64, all little-endian,
// between HEADER_START and HEADER_END.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace iq {

// What a filterbank of 32-bit power samples, one beam and one polarisation sum, says of itself.
struct FilterbankHeader {
  std::string rawdatafile;  // the capture it was made from
  std::string source_name;
  std::optional<double> src_raj;  // hhmmss.s
  std::optional<double> src_dej;  // ddmmss.s, negative south
  double tstart_mjd = 0.0;        // UTC of the first sample
  double tsamp_s = 0.0;
  double fch1_mhz = 0.0;  // the first channel's centre: the highest frequency
  double foff_mhz = 0.0;  // negative: channels run downward
  std::int32_t nchans = 0;
};

// The centre frequency of the first (highest) of `channels` channels of a band of `rate_hz`
// around `centre_hz`, and the step from one channel to the next (negative), both in MHz.
struct ChannelFrequencies {
  double fch1_mhz = 0.0;
  double foff_mhz = 0.0;
};
ChannelFrequencies channel_frequencies(double centre_hz, double rate_hz, std::int32_t channels);

// The header's bytes: telescope_id and machine_id 0 (unknown), data_type 1, then the fields,
// nbits 32 and nifs 1.
std::string filterbank_header_bytes(const FilterbankHeader& header);

// Right ascension (degrees) as hhmmss.s and declination (degrees) as ddmmss.s, the numbers
// src_raj and src_dej hold.
double sigproc_right_ascension(double ra_deg);
double sigproc_declination(double dec_deg);

// Appends `value` as 4 little-endian bytes.
void append_float32(std::string& bytes, float value);

}  // namespace iq
