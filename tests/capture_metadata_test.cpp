// SPDX-License-Identifier: MIT
// Capture metadata: what is written is read back, and UTC times are read to the second and
// fraction (calendar arithmetic, offsets). Captures of another layout, fields that cannot be
// used, malformed files and the names written are in the golden corpus.
#include <gtest/gtest.h>

#include "io/capture_metadata.hpp"
#include "io/tool_error.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(CaptureMetadata, WhatIsWrittenIsReadBack) {
  test::ScratchDir dir;
  const CaptureMetadata cases[] = {
      {2.4e6, 1420.405751768e6, "2026-12-07T01:30:00Z", Geolocation{52.5, -4.25, 120.5}},
      {2048000.0, std::nullopt, std::nullopt, Geolocation{-90.0, 180.0, -1000.0}},
      {std::nullopt, 100e6, "2026-02-28T23:59:59.25Z", std::nullopt},
      {1.0 / 3.0, 0.0, std::nullopt, Geolocation{1.0 / 3.0, 0.1, 0.0}},
      {}};
  for (const CaptureMetadata& meta : cases) {
    write_capture_metadata(dir.path("sky.bin"), meta);
    std::ostringstream err;
    const CaptureMetadata back = read_capture_metadata(dir.path("sky.bin"), "iqplot", err);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(back.sample_rate_hz, meta.sample_rate_hz);
    EXPECT_EQ(back.centre_frequency_hz, meta.centre_frequency_hz);
    EXPECT_EQ(back.datetime_utc, meta.datetime_utc);
    ASSERT_EQ(back.geolocation.has_value(), meta.geolocation.has_value());
    if (meta.geolocation) {
      EXPECT_EQ(back.geolocation->latitude_deg, meta.geolocation->latitude_deg);
      EXPECT_EQ(back.geolocation->longitude_deg, meta.geolocation->longitude_deg);
      EXPECT_EQ(back.geolocation->height_m, meta.geolocation->height_m);
    }
  }
  // GeoJSON puts the longitude first.
  CaptureMetadata placed;
  placed.geolocation = Geolocation{52.5, -4.25, 120.5};
  write_capture_metadata(dir.path("sky.bin"), placed);
  EXPECT_NE(test::read_text(dir.path("sky.sigmf-meta"))
                .find("\"coordinates\": [\n                -4.25,\n                52.5,"),
            std::string::npos)
      << test::read_text(dir.path("sky.sigmf-meta"));
  for (const Geolocation& outside :
       {Geolocation{90.5, 0, 0}, Geolocation{0, -180.5, 0}, Geolocation{0, 0, 10001}}) {
    placed.geolocation = outside;
    EXPECT_THROW(write_capture_metadata(dir.path("sky.bin"), placed), ToolError);
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

TEST(CaptureMetadata, TimesWithAnOffsetAreReadInUtc) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"2026-12-07T01:30:00Z", "2026-12-07T01:30:00Z"},
      {"2026-12-07T01:30:00.125z", "2026-12-07T01:30:00.125Z"},
      {"2026-12-07T02:30:00+01:00", "2026-12-07T01:30:00Z"},
      {"2026-12-07T00:15:00.25-01:15", "2026-12-07T01:30:00.25Z"},
      {"2027-01-01T00:30:00+00:45", "2026-12-31T23:45:00Z"},
      {"2024-02-28T23:00:00-01:00", "2024-02-29T00:00:00Z"},
      {"2026-12-07T01:30:00+00:00", "2026-12-07T01:30:00Z"},
      {"2026-12-07T01:30:00+24:00", std::nullopt},
      {"2026-12-07T01:30:00+01:60", std::nullopt},
      {"2026-12-07T01:30:00+0100", std::nullopt},
      {"2026-12-07T01:30:00*01:00", std::nullopt},
      {"2026-12-07T01:30:00 01:00", std::nullopt},
      {"2026-02-30T01:30:00+01:00", std::nullopt},
      {"2026-12-07T01:30:00", std::nullopt},
      {"2026-12-07T01:30Z", std::nullopt},
  };
  for (const auto& [text, utc] : cases) EXPECT_EQ(datetime_as_utc(text), utc) << text;
}

}  // namespace
}  // namespace iq
