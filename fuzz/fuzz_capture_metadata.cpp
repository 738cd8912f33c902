// SPDX-License-Identifier: MIT
// Fuzz target: the metadata reader on any text kept beside a capture as its .sigmf-meta. It never
// throws, reports each refusal in one line on standard error, keeps only values it can stand by
// (a rate above 0, a finite frequency of 0 Hz or more, a real UTC time), and what it keeps reads
// back the same once written.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz_check.hpp"
#include "io/capture_metadata.hpp"

namespace {

using iq::fuzz::check;

std::string g_dir;  // the scratch folder, made once

void write_text(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

iq::CaptureMetadata read_guarded(const std::string& capture, std::ostringstream& err) {
  try {
    return iq::read_capture_metadata(capture, "fuzz", err);
  } catch (...) {
    check(false, "read_capture_metadata threw");
  }
  return {};
}

// Each report is a line "fuzz: <meta path>: <why>; ignored" (the whole file refused: nothing
// kept) or "...; that field is ignored" (that field alone dropped, the others kept).
void check_report(const std::string& report, const iq::CaptureMetadata& meta) {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    check(line.rfind("fuzz: ", 0) == 0, "a report without the tool's name: " + line);
    const bool field = line.ends_with("; that field is ignored");
    check(field || line.ends_with("; ignored"), "a report that says not what is ignored: " + line);
    if (!field) {
      check(!meta.sample_rate_hz && !meta.centre_frequency_hz && !meta.datetime_utc,
            "values kept from a refused file: " + line);
    }
  }
  check(report.empty() || report.back() == '\n', "a report without its line end: " + report);
}

void check_values(const iq::CaptureMetadata& meta) {
  if (meta.sample_rate_hz) {
    check(std::isfinite(*meta.sample_rate_hz) && *meta.sample_rate_hz > 0.0, "a rate that is not above 0 kept");
  }
  if (meta.centre_frequency_hz) {
    check(std::isfinite(*meta.centre_frequency_hz) && *meta.centre_frequency_hz >= 0.0,
          "a frequency below 0 Hz or not finite kept");
  }
  if (meta.datetime_utc) {
    check(iq::utc_datetime_seconds(*meta.datetime_utc).has_value(), "a time that names no date kept");
  }
}

// What was kept, written as a capture's metadata, reads back as the same values.
void check_round_trip(const iq::CaptureMetadata& meta) {
  if (!meta.sample_rate_hz && !meta.centre_frequency_hz && !meta.datetime_utc) return;
  const std::string copy = g_dir + "/copy.bin";
  try {
    iq::write_capture_metadata(copy, meta);
  } catch (...) {
    check(false, "write_capture_metadata refused what the reader kept");
  }
  std::ostringstream err;
  const iq::CaptureMetadata back = read_guarded(copy, err);
  check(err.str().empty(), "the written metadata was refused: " + err.str());
  check(back.sample_rate_hz == meta.sample_rate_hz && back.centre_frequency_hz == meta.centre_frequency_hz &&
            back.datetime_utc == meta.datetime_utc,
        "the written metadata reads back otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  g_dir = iq::fuzz::make_scratch_folder("iqtools-fuzz-meta");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_text(g_dir + "/cap.sigmf-meta", data, size);
  std::ostringstream err;
  const iq::CaptureMetadata meta = read_guarded(g_dir + "/cap.bin", err);
  check_report(err.str(), meta);
  check_values(meta);
  check_round_trip(meta);
  return 0;
}
