// SPDX-License-Identifier: MIT
// The capture metadata behind a table.
#include "plot_metadata.hpp"

#include <sys/stat.h>

#include "io/tool_error.hpp"

namespace iq {

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The capture behind the table: the one --metadata names, else the one named like the table.
std::optional<std::string> table_capture(const std::string& table, const std::optional<std::string>& capture) {
  // "x.sigmf-meta" names the metadata itself: it is that of the capture "x.sigmf-data".
  const std::string meta_suffix = ".sigmf-meta";
  if (capture) {
    return ends_with(*capture, meta_suffix)
               ? capture->substr(0, capture->size() - meta_suffix.size()) + ".sigmf-data"
               : *capture;
  }
  // The launchers name a capture's spectrum like the capture with ".txt".
  if (!ends_with(table, ".txt")) return std::nullopt;
  return table.substr(0, table.size() - 4) + ".bin";
}

}  // namespace

CaptureMetadata table_metadata(const std::string& table, const std::optional<std::string>& capture,
                               std::ostream& err) {
  const auto named = table_capture(table, capture);
  if (!named) return {};
  struct stat info {};
  if (capture && ::stat(metadata_path_for(*named).c_str(), &info) != 0) {
    throw ToolError("option --metadata: there is no metadata file " + metadata_path_for(*named));
  }
  return read_capture_metadata(*named, "iqplot", err);
}

std::optional<double> table_capture_seconds(const std::string& table, const std::optional<std::string>& capture,
                                            std::optional<double> rate_mhz) {
  const auto named = table_capture(table, capture);
  struct stat info {};
  if (!named || !rate_mhz || ::stat(named->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  // Two bytes, I and Q, a sample.
  return static_cast<double>(info.st_size / 2) / (*rate_mhz * 1e6);
}

void fill_from_metadata(PlotSettings& settings, const CaptureMetadata& meta) {
  if (!settings.rate_mhz && meta.sample_rate_hz) settings.rate_mhz = *meta.sample_rate_hz / 1e6;
  if (!settings.centre_mhz && meta.centre_frequency_hz) settings.centre_mhz = *meta.centre_frequency_hz / 1e6;
  if (!settings.start_utc && meta.datetime_utc) settings.start_utc = meta.datetime_utc;
}

}  // namespace iq
