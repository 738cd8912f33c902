// SPDX-License-Identifier: MIT
// Writing the filterbank header keyword by keyword.
#include "io/sigproc_header.hpp"

#include <bit>
#include <cmath>

namespace iq {

namespace {

template <typename Word>
void append_little_endian(std::string& bytes, Word word) {
  for (std::size_t k = 0; k < sizeof word; ++k) bytes.push_back(static_cast<char>((word >> (8 * k)) & 0xff));
}

void append_text(std::string& bytes, const std::string& text) {
  append_little_endian(bytes, static_cast<std::uint32_t>(text.size()));
  bytes += text;
}

void append_int(std::string& bytes, const std::string& key, std::int32_t value) {
  append_text(bytes, key);
  append_little_endian(bytes, static_cast<std::uint32_t>(value));
}

void append_double(std::string& bytes, const std::string& key, double value) {
  append_text(bytes, key);
  append_little_endian(bytes, std::bit_cast<std::uint64_t>(value));
}

// An angle in units (hours or degrees), non-negative, as uu * 10000 + mm * 100 + ss.s.
double sexagesimal_number(double units) {
  const double whole = std::floor(units);
  const double minutes = std::floor((units - whole) * 60.0);
  const double seconds = ((units - whole) * 60.0 - minutes) * 60.0;
  return whole * 10000.0 + minutes * 100.0 + seconds;
}

}  // namespace

void append_float32(std::string& bytes, float value) {
  append_little_endian(bytes, std::bit_cast<std::uint32_t>(value));
}

double sigproc_right_ascension(double ra_deg) { return sexagesimal_number(ra_deg / 15.0); }

double sigproc_declination(double dec_deg) {
  return std::copysign(sexagesimal_number(std::fabs(dec_deg)), dec_deg);
}

ChannelFrequencies channel_frequencies(double centre_hz, double rate_hz, std::int32_t channels) {
  const double channel_hz = rate_hz / channels;
  return {(centre_hz + (channels / 2 - 1) * channel_hz) / 1e6, -channel_hz / 1e6};
}

std::string filterbank_header_bytes(const FilterbankHeader& header) {
  std::string bytes;
  append_text(bytes, "HEADER_START");
  append_int(bytes, "telescope_id", 0);
  append_int(bytes, "machine_id", 0);
  append_int(bytes, "data_type", 1);
  append_text(bytes, "rawdatafile");
  append_text(bytes, header.rawdatafile);
  append_text(bytes, "source_name");
  append_text(bytes, header.source_name);
  if (header.src_raj) append_double(bytes, "src_raj", *header.src_raj);
  if (header.src_dej) append_double(bytes, "src_dej", *header.src_dej);
  append_double(bytes, "tstart", header.tstart_mjd);
  append_double(bytes, "tsamp", header.tsamp_s);
  append_double(bytes, "fch1", header.fch1_mhz);
  append_double(bytes, "foff", header.foff_mhz);
  append_int(bytes, "nchans", header.nchans);
  append_int(bytes, "nbits", 32);
  append_int(bytes, "nifs", 1);
  append_text(bytes, "HEADER_END");
  return bytes;
}

}  // namespace iq
