// SPDX-License-Identifier: MIT
// The time series and filterbanks of the pulsar software: SIGPROC .fil (8 or 32 bits) and
// .tim (32-bit float) with their keyword header, and PRESTO .dat (32-bit float) described by
// the .inf text beside it; what their headers say, and their samples as one power per sample.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/capture_reader.hpp"

namespace iq {

// Whether `path` names a pulsar file by its ending: .fil, .tim, .dat or .inf.
bool is_pulsar_file_name(const std::string& path);

// What a pulsar file's header says.
struct PulsarHeader {
  std::string format;            // "SIGPROC filterbank", "SIGPROC time series", "PRESTO time series"
  std::string data_path;         // the file of the samples (the .dat of an .inf)
  std::int64_t data_offset = 0;  // bytes before the first sample
  std::int64_t samples = 0;      // whole time samples
  double tsamp_s = 0.0;
  std::optional<double> tstart_mjd;  // UTC
  std::int32_t nchans = 1;
  std::int32_t nbits = 32;
  double fch1_mhz = 0.0;  // the first channel's frequency, where there are channels
  double foff_mhz = 0.0;
  std::optional<double> ra_deg;  // the source, ICRS (J2000)
  std::optional<double> dec_deg;
};

// Reads the header of the pulsar file `path` (is_pulsar_file_name). A ToolError names the file
// and the keyword that is missing, malformed or contradicts another or the file's length.
PulsarHeader read_pulsar_header(const std::string& path);

// Fills its span with the next time sample's values, one per channel.
using ChannelRows = std::function<void(std::span<double>)>;

// The rows of a pulsar file's samples from its data file, read from its first sample on.
ChannelRows file_rows(CaptureReader& data, const PulsarHeader& header);

// Reads consecutive time samples of channel rows: each the sum over its channels, channel c
// taken `shifts[c]` samples later (none when `shifts` is empty), so that a dispersed pulse adds
// up in one sample. Holds the last max(shifts) + 1 rows.
class PulsarSamples {
 public:
  PulsarSamples(ChannelRows rows, const PulsarHeader& header, std::vector<std::int64_t> shifts = {});
  // The samples there are: the header's less the largest shift.
  std::int64_t samples() const { return samples_; }
  // Fills `out` with the next samples (as many as it holds, within samples()).
  void read(std::span<double> out);

 private:
  ChannelRows rows_source_;
  std::int32_t nchans_;
  std::vector<std::int64_t> shifts_;
  std::int64_t depth_;  // rows held: the largest shift + 1
  std::int64_t samples_;
  std::vector<double> rows_;  // row r at slot r % depth_
  std::int64_t loaded_ = 0;
  std::int64_t next_ = 0;
};

}  // namespace iq
