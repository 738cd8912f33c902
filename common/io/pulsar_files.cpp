// SPDX-License-Identifier: MIT
// Reading the pulsar software's headers keyword by keyword, and their samples.
#include "io/pulsar_files.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

bool ends_with(const std::string& text, const char* end) {
  const std::size_t n = std::strlen(end);
  return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

std::string without_suffix(const std::string& path) { return path.substr(0, path.rfind('.')); }

// The keyword header of a SIGPROC file, read from its first bytes.
class KeywordReader {
 public:
  KeywordReader(std::string path, std::string bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {}

  std::int32_t next_int() {
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) word |= static_cast<std::uint32_t>(byte(at_ + k)) << (8 * k);
    at_ += 4;
    return static_cast<std::int32_t>(word);
  }
  double next_double() {
    std::uint64_t word = 0;
    for (int k = 0; k < 8; ++k) word |= static_cast<std::uint64_t>(byte(at_ + k)) << (8 * k);
    at_ += 8;
    return std::bit_cast<double>(word);
  }
  std::string next_text() {
    const std::size_t start = at_;
    const std::int32_t length = next_int();
    if (length < 1 || length > 80) {
      fail(cformat("no keyword at byte %zu (a length of %d); the header is not SIGPROC's or is cut short", start,
                   length));
    }
    byte(at_ + static_cast<std::size_t>(length) - 1);
    std::string text = bytes_.substr(at_, static_cast<std::size_t>(length));
    at_ += static_cast<std::size_t>(length);
    return text;
  }
  std::size_t offset() const { return at_; }
  [[noreturn]] void fail(const std::string& why) const { throw ToolError(path_ + ": " + why); }

 private:
  std::uint8_t byte(std::size_t k) const {
    if (k >= bytes_.size()) fail("keyword HEADER_END is missing: the header runs to the end of the file");
    return static_cast<std::uint8_t>(bytes_[k]);
  }
  std::string path_;
  std::string bytes_;
  std::size_t at_ = 0;
};

// SIGPROC's sexagesimal numbers (hhmmss.s, ddmmss.s) in degrees.
double sexagesimal_degrees(double value, double unit_degrees) {
  const double magnitude = std::fabs(value);
  const double whole = std::floor(magnitude / 10000.0);
  const double minutes = std::floor((magnitude - whole * 10000.0) / 100.0);
  const double seconds = magnitude - whole * 10000.0 - minutes * 100.0;
  return std::copysign((whole + minutes / 60.0 + seconds / 3600.0) * unit_degrees, value);
}

constexpr const char* kIntKeys[] = {"telescope_id", "machine_id",    "data_type", "nchans",
                                    "nbits",        "nifs",          "nbeams",    "ibeam",
                                    "barycentric",  "pulsarcentric", "nsamples"};
constexpr const char* kDoubleKeys[] = {"tstart",  "tsamp",    "fch1",     "foff",  "src_raj",
                                       "src_dej", "az_start", "za_start", "refdm", "period"};
constexpr const char* kTextKeys[] = {"rawdatafile", "source_name"};

template <std::size_t N>
bool among(const std::string& key, const char* const (&keys)[N]) {
  for (const char* k : keys) {
    if (key == k) return true;
  }
  return false;
}

// Every keyword and its value (text keywords keep none) up to HEADER_END.
std::map<std::string, double> sigproc_keywords(KeywordReader& reader) {
  if (reader.next_text() != "HEADER_START") reader.fail("keyword HEADER_START does not open the header");
  std::map<std::string, double> values;
  for (std::string key = reader.next_text(); key != "HEADER_END"; key = reader.next_text()) {
    if (among(key, kIntKeys)) {
      values[key] = reader.next_int();
    } else if (among(key, kDoubleKeys)) {
      values[key] = reader.next_double();
    } else if (among(key, kTextKeys)) {
      reader.next_text();
    } else {
      reader.fail("keyword '" + key + "' is not one this reader knows (nor its value's size)");
    }
  }
  return values;
}

std::string file_head(const std::string& path, std::size_t most) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw ToolError(system_error_text("Can't open file " + path, errno));
  std::string bytes(most, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(most));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

std::int64_t file_length(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) throw ToolError(system_error_text("Can't open file " + path, errno));
  return static_cast<std::int64_t>(file.tellg());
}

// A keyword's value that must be there, one of the `allowed` when any are given.
double required(const KeywordReader& reader, const std::map<std::string, double>& values, const char* key) {
  const auto found = values.find(key);
  if (found == values.end()) reader.fail(std::string("keyword ") + key + " is missing");
  return found->second;
}

PulsarHeader sigproc_header(const std::string& path, bool filterbank) {
  KeywordReader reader(path, file_head(path, 1 << 16));
  const std::map<std::string, double> values = sigproc_keywords(reader);
  PulsarHeader header;
  header.format = filterbank ? "SIGPROC filterbank" : "SIGPROC time series";
  header.data_path = path;
  header.data_offset = static_cast<std::int64_t>(reader.offset());
  const int data_type = static_cast<int>(required(reader, values, "data_type"));
  if (data_type != (filterbank ? 1 : 2)) {
    reader.fail(cformat("keyword data_type %d contradicts the name: a %s has data_type %d", data_type,
                        filterbank ? ".fil filterbank" : ".tim time series", filterbank ? 1 : 2));
  }
  header.tsamp_s = required(reader, values, "tsamp");
  if (!(header.tsamp_s > 0.0 && header.tsamp_s < 1e3)) reader.fail("keyword tsamp must be above 0 s");
  header.nbits = static_cast<std::int32_t>(required(reader, values, "nbits"));
  if (header.nbits != 32 && !(filterbank && header.nbits == 8)) {
    reader.fail(
        cformat("keyword nbits %d is not read: 8 or 32 for a filterbank, 32 for a time series", header.nbits));
  }
  header.nchans = filterbank ? static_cast<std::int32_t>(required(reader, values, "nchans")) : 1;
  if (header.nchans < 1 || header.nchans > 1 << 20) reader.fail("keyword nchans must be from 1 to 1048576");
  if (values.contains("nifs") && values.at("nifs") != 1)
    reader.fail("keyword nifs must be 1 (one polarisation sum)");
  if (values.contains("tstart")) header.tstart_mjd = values.at("tstart");
  if (values.contains("src_raj")) header.ra_deg = sexagesimal_degrees(values.at("src_raj"), 15.0);
  if (values.contains("src_dej")) header.dec_deg = sexagesimal_degrees(values.at("src_dej"), 1.0);
  if (filterbank) {
    header.fch1_mhz = required(reader, values, "fch1");
    header.foff_mhz = required(reader, values, "foff");
  }
  const std::int64_t sample_bytes = std::int64_t{header.nchans} * header.nbits / 8;
  header.samples = (file_length(path) - header.data_offset) / sample_bytes;
  return header;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// hh:mm:ss.s or dd:mm:ss.s in degrees (unit_degrees per hour or degree).
std::optional<double> colon_angle(const std::string& text, double unit_degrees) {
  double parts[3] = {0.0, 0.0, 0.0};
  std::istringstream in(text);
  char colon1 = 0, colon2 = 0;
  if (!(in >> parts[0] >> colon1 >> parts[1] >> colon2 >> parts[2]) || colon1 != ':' || colon2 != ':') {
    return std::nullopt;
  }
  const double magnitude = std::fabs(parts[0]) + parts[1] / 60.0 + parts[2] / 3600.0;
  return (trimmed(text)[0] == '-' ? -magnitude : magnitude) * unit_degrees;
}

double inf_number(const std::string& path, const std::map<std::string, std::string>& fields, const char* key) {
  const auto found = fields.find(key);
  if (found == fields.end()) throw ToolError(path + ": keyword '" + key + "' is missing");
  std::istringstream in(found->second);
  double value = 0.0;
  if (!(in >> value) || !(in >> std::ws).eof()) {
    throw ToolError(path + ": keyword '" + key + "' must be a number (got '" + found->second + "')");
  }
  return value;
}

std::map<std::string, std::string> inf_fields(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw ToolError(system_error_text("Can't open file " + path, errno));
  std::map<std::string, std::string> fields;
  for (std::string line; std::getline(file, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) fields[trimmed(line.substr(0, equals))] = trimmed(line.substr(equals + 1));
  }
  return fields;
}

PulsarHeader presto_header(const std::string& path) {
  const std::string inf = without_suffix(path) + ".inf";
  const std::map<std::string, std::string> fields = inf_fields(inf);
  PulsarHeader header;
  header.format = "PRESTO time series";
  header.data_path = without_suffix(path) + ".dat";
  header.tsamp_s = inf_number(inf, fields, "Width of each time series bin (sec)");
  if (!(header.tsamp_s > 0.0 && header.tsamp_s < 1e3)) {
    throw ToolError(inf + ": keyword 'Width of each time series bin (sec)' must be above 0 s");
  }
  header.tstart_mjd = inf_number(inf, fields, "Epoch of observation (MJD)");
  const double bins = inf_number(inf, fields, "Number of bins in the time series");
  if (fields.contains("Any breaks in the data? (1 yes, 0 no)") &&
      inf_number(inf, fields, "Any breaks in the data? (1 yes, 0 no)") != 0.0) {
    throw ToolError(inf +
                    ": keyword 'Any breaks in the data? (1 yes, 0 no)' is 1: a series with breaks is not read");
  }
  const std::int64_t length = file_length(header.data_path);
  if (bins != std::floor(bins) || bins < 1 || static_cast<double>(length) != bins * 4.0) {
    throw ToolError(
        cformat("%s: keyword 'Number of bins in the time series' %.17g contradicts %s, of %lld bytes "
                "(4 per sample)",
                inf.c_str(), bins, header.data_path.c_str(), static_cast<long long>(length)));
  }
  header.samples = static_cast<std::int64_t>(bins);
  if (fields.contains("J2000 Right Ascension (hh:mm:ss.ssss)")) {
    header.ra_deg = colon_angle(fields.at("J2000 Right Ascension (hh:mm:ss.ssss)"), 15.0);
  }
  if (fields.contains("J2000 Declination     (dd:mm:ss.ssss)")) {
    header.dec_deg = colon_angle(fields.at("J2000 Declination     (dd:mm:ss.ssss)"), 1.0);
  }
  return header;
}

}  // namespace

bool is_pulsar_file_name(const std::string& path) {
  return ends_with(path, ".fil") || ends_with(path, ".tim") || ends_with(path, ".dat") || ends_with(path, ".inf");
}

PulsarHeader read_pulsar_header(const std::string& path) {
  if (ends_with(path, ".fil")) return sigproc_header(path, true);
  if (ends_with(path, ".tim")) return sigproc_header(path, false);
  return presto_header(path);
}

ChannelRows file_rows(CaptureReader& data, const PulsarHeader& header) {
  data.seek(header.data_offset);
  const auto bytes_per_value = static_cast<std::size_t>(header.nbits / 8);
  return [&data, bytes_per_value, bytes = std::vector<std::uint8_t>()](std::span<double> row) mutable {
    bytes.resize(row.size() * bytes_per_value);
    data.read(bytes);
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (bytes_per_value == 1) {
        row[c] = bytes[c];
      } else {
        std::uint32_t word = 0;
        for (std::size_t b = 0; b < 4; ++b) word |= static_cast<std::uint32_t>(bytes[4 * c + b]) << (8 * b);
        row[c] = static_cast<double>(std::bit_cast<float>(word));
      }
    }
  };
}

PulsarSamples::PulsarSamples(ChannelRows rows, const PulsarHeader& header, std::vector<std::int64_t> shifts)
    : rows_source_(std::move(rows)),
      nchans_(header.nchans),
      shifts_(shifts.empty() ? std::vector<std::int64_t>(static_cast<std::size_t>(header.nchans), 0)
                             : std::move(shifts)),
      depth_(*std::max_element(shifts_.begin(), shifts_.end()) + 1),
      samples_(std::max<std::int64_t>(0, header.samples - (depth_ - 1))),
      rows_(static_cast<std::size_t>(depth_ * nchans_)) {}

void PulsarSamples::read(std::span<double> out) {
  const auto channels = static_cast<std::size_t>(nchans_);
  for (double& value : out) {
    while (loaded_ < next_ + depth_) {
      rows_source_(
          std::span<double>(rows_.data() + static_cast<std::size_t>(loaded_ % depth_) * channels, channels));
      ++loaded_;
    }
    double sum = 0.0;
    for (std::size_t c = 0; c < channels; ++c) {
      sum += rows_[static_cast<std::size_t>((next_ + shifts_[c]) % depth_) * channels + c];
    }
    value = sum;
    ++next_;
  }
}

}  // namespace iq
