// Capture metadata: what is written is read back, and UTC times are read to the second and
// fraction (calendar arithmetic). Files as other writers make them, malformed files and the
// file's name beside each capture are in the golden corpus.
#include <gtest/gtest.h>

#include "io/capture_metadata.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(CaptureMetadata, WhatIsWrittenIsReadBack) {
  test::ScratchDir dir;
  const CaptureMetadata cases[] = {{2.4e6, 1420.405751768e6, "2026-12-07T01:30:00Z"},
                                   {2048000.0, std::nullopt, std::nullopt},
                                   {std::nullopt, 100e6, "2026-02-28T23:59:59.25Z"},
                                   {1.0 / 3.0, 0.0, std::nullopt},
                                   {}};
  for (const CaptureMetadata& meta : cases) {
    write_capture_metadata(dir.path("sky.bin"), meta);
    std::ostringstream err;
    const CaptureMetadata back = read_capture_metadata(dir.path("sky.bin"), "iqplot", err);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(back.sample_rate_hz, meta.sample_rate_hz);
    EXPECT_EQ(back.centre_frequency_hz, meta.centre_frequency_hz);
    EXPECT_EQ(back.datetime_utc, meta.datetime_utc);
  }
}

TEST(CaptureMetadata, UtcTimesAreReadToTheSecondAndFraction) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"1970-01-01T00:00:00Z", 0.0},
      {"1970-01-02T00:00:01Z", 86401.0},
      {"2000-03-01T00:00:00Z", 951868800.0},
      {"2026-12-07T01:30:00Z", 1796607000.0},
      {"2024-02-29T12:00:00.5Z", 1709208000.5},
      {"1969-12-31T23:59:59Z", -1.0},
      {"2026-12-31T23:59:60Z", 1798761600.0},
      {"2000-02-29T00:00:00Z", 951782400.0},
      {"2026-02-29T00:00:00Z", std::nullopt},
      {"1900-02-29T00:00:00Z", std::nullopt},
      {"2026-13-01T00:00:00Z", std::nullopt},
      {"2026-00-01T00:00:00Z", std::nullopt},
      {"2026-04-31T00:00:00Z", std::nullopt},
      {"2026-12-07T24:00:00Z", std::nullopt},
      {"2026-12-07T01:60:00Z", std::nullopt},
      {"2026-12-07T01:30:61Z", std::nullopt},
      {"2026-12-07T01:30:00", std::nullopt},
      {"2026-12-07 01:30:00Z", std::nullopt},
      {"2026-12-07T01:30:00.Z", std::nullopt},
      {"2026-12-07T01:30:00,5Z", std::nullopt},
      {"2026-12-07T01:30:00.5xZ", std::nullopt},
      {"2026-12-7T01:30:00Z", std::nullopt},
      {"+026-12-07T01:30:00Z", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, seconds] : cases) EXPECT_EQ(utc_datetime_seconds(text), seconds) << text;
}

}  // namespace
}  // namespace iq
