// SPDX-License-Identifier: MIT
// Capture metadata: what is written is read back, and a site out of range is not written. Times,
// captures of another layout, fields that cannot be used, malformed files and the names written
// are in the golden corpus.
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

// A pointing goes under the toolkit's own namespace, declared optional: the capture stays
// readable, by these tools and by any SigMF reader, and the other fields read back unchanged.
TEST(CaptureMetadata, APointingIsWrittenUnderAnOptionalExtension) {
  test::ScratchDir dir;
  CaptureMetadata meta;
  meta.sample_rate_hz = 2.4e6;
  meta.pointing = SkyPointing{53.2475, -54.5788};
  write_capture_metadata(dir.path("sky.bin"), meta);
  const std::string text = test::read_text(dir.path("sky.sigmf-meta"));
  EXPECT_NE(text.find("\"iqtools:radec\": [\n            53.2475,\n            -54.5788\n"), std::string::npos)
      << text;
  EXPECT_NE(
      text.find(
          "\"name\": \"iqtools\",\n                \"version\": \"1.0.0\",\n                \"optional\": true"),
      std::string::npos)
      << text;
  EXPECT_EQ(capture_refusal(dir.path("sky.bin")), std::nullopt);
  std::ostringstream err;
  EXPECT_EQ(read_capture_metadata(dir.path("sky.bin"), "cyclesearch", err).sample_rate_hz, 2.4e6);
  EXPECT_EQ(err.str(), "");
  for (const SkyPointing& outside :
       {SkyPointing{360.0, 0.0}, SkyPointing{-0.5, 0.0}, SkyPointing{0.0, 90.5}, SkyPointing{0.0, -90.5}}) {
    meta.pointing = outside;
    EXPECT_THROW(write_capture_metadata(dir.path("sky.bin"), meta), ToolError);
  }
}

}  // namespace
}  // namespace iq
