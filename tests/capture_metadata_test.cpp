// SPDX-License-Identifier: MIT
// Capture metadata: what is written is read back and names its capture for SigMF readers, UTC
// times are read to the second and fraction (calendar arithmetic, offsets), captures of another
// layout are refused when opened, and a field that cannot be used costs only itself. How each
// program tells of these, and malformed files, are in the golden corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "io/capture_metadata.hpp"
#include "io/tool_error.hpp"
#include "io/capture_reader.hpp"
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

TEST(CaptureMetadata, NamesItsCaptureUnlessTheNamesPair) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir.path("d"));
  const std::pair<const char*, const char*> cases[] = {{"d/sky.bin", "d/sky.sigmf-meta"},
                                                       {"d/sky.cu8", "d/sky.cu8.sigmf-meta"},
                                                       {"d/sky.sigmf-data", "d/sky.sigmf-meta"}};
  for (const auto& [capture, meta] : cases) {
    write_capture_metadata(dir.path(capture), {2.4e6, std::nullopt, std::nullopt, std::nullopt});
    const std::string text = test::read_text(dir.path(meta));
    const std::string name = std::string(capture).substr(2);
    const bool compliant = name.ends_with(".sigmf-data");
    EXPECT_EQ(text.find("\"core:dataset\": \"" + name + "\"") != std::string::npos, !compliant) << capture;
    EXPECT_EQ(text.find("core:dataset") != std::string::npos, !compliant) << capture;
    std::filesystem::remove(dir.path(meta));
  }
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

TEST(CaptureMetadata, CapturesOfAnotherLayoutAreRefusedWhenOpened) {
  test::ScratchDir dir;
  test::write_constant(dir.path("a.bin"), 16, 0x80);
  // The metadata beside a.bin, and a text the refusal holds ("" for none).
  const std::pair<const char*, const char*> cases[] = {
      {"{\"global\": {\"core:datatype\": \"cu8\", \"core:num_channels\": 1, \"core:trailing_bytes\": 0}, "
       "\"captures\": [{\"core:sample_start\": 0, \"core:header_bytes\": 0}, {\"core:sample_start\": 4}]}",
       ""},
      {"{\"global\": {\"core:datatype\": \"ci16_le\"}}", "\"core:datatype\" is \"ci16_le\""},
      {"{\"global\": {\"core:datatype\": \"cu8_le\"}}", "\"cu8_le\""},
      {"{\"global\": {\"core:datatype\": 8}}", "\"core:datatype\" is 8"},
      {"{\"global\": {\"core:num_channels\": 2}}", "\"core:num_channels\" is 2"},
      {"{\"global\": {\"core:trailing_bytes\": 1}}", "\"core:trailing_bytes\" is 1"},
      {"{\"global\": {}, \"captures\": [{}, {\"core:header_bytes\": 4}]}", "captures[1] is 4"},
      {"{\"global\": {}, \"captures\": [{\"core:sample_start\": 8}]}",
       "\"core:sample_start\" of captures[0] is 8"},
      {"{\"global\": {\"core:extensions\": [{\"name\": \"x\", \"optional\": true}]}}", ""},
      {"{\"global\": {\"core:extensions\": [{\"name\": \"x\", \"optional\": false}]}}", "extension \"x\""},
      {"{\"global\": {\"core:datatype\": \"ci16_le\"", ""},
      {"{\"global\": {\"core:datatype\": \"ci16_le\", \"core:dataset\": \"a.sigmf-data\"}}", ""},
      {"{\"global\": {\"core:datatype\": \"ci16_le\", \"core:dataset\": \"a.bin\"}}", "\"ci16_le\""},
  };
  for (const auto& [json, refusal] : cases) {
    std::ofstream(dir.path("a.sigmf-meta")) << json;
    std::string why;
    const bool opened = CaptureReader::open(dir.path("a.bin"), 64, &why).has_value();
    EXPECT_EQ(opened, *refusal == '\0') << json;
    EXPECT_NE(why.find(refusal), std::string::npos) << json << " gave " << why;
    if (!opened) {
      EXPECT_EQ(why.find(dir.path("a.sigmf-meta") + ": "), 0u) << why;
    }
  }
  std::filesystem::remove(dir.path("a.sigmf-meta"));
  for (const char* name : {"b.sigmf-meta", "b.SIGMF", "b.sigmf"}) {
    test::write_constant(dir.path(name), 16, 0x80);
    EXPECT_FALSE(CaptureReader::open(dir.path(name), 64).has_value()) << name;
  }
  for (const char* name : {"b.sigmf-data", "b.sigmf-metadata", "b.sigmf.bin"}) {
    test::write_constant(dir.path(name), 16, 0x80);
    EXPECT_TRUE(CaptureReader::open(dir.path(name), 64).has_value()) << name;
  }
}

TEST(CaptureMetadata, AFieldThatCannotBeUsedIsLeftOutAlone) {
  test::ScratchDir dir;
  struct Case {
    const char* json;
    CaptureMetadata kept;
    const char* reported;  // the field named on the one line of `err`, "" for none
  };
  const Case cases[] = {
      {"{\"global\": {\"core:sample_rate\": 2e6}, \"captures\": [{\"core:frequency\": -1, \"core:datetime\": "
       "\"2026-12-07T01:30:00Z\"}]}",
       {2e6, std::nullopt, "2026-12-07T01:30:00Z", std::nullopt},
       "\"core:frequency\" of captures[0]"},
      {"{\"global\": {\"core:sample_rate\": 0}, \"captures\": [{\"core:frequency\": 0}]}",
       {std::nullopt, 0.0, std::nullopt, std::nullopt},
       "\"core:sample_rate\""},
      {"{\"global\": {\"core:sample_rate\": 2e6}, \"captures\": [{\"core:frequency\": 1e9, \"core:datetime\": "
       "\"2026-12-07T02:30:00+01:00\"}, {\"core:datetime\": \"later\"}]}",
       {2e6, 1e9, "2026-12-07T01:30:00Z", std::nullopt},
       ""},
      {"{\"global\": {\"core:sample_rate\": 2e6}, \"captures\": [{\"core:frequency\": 1e9, \"core:datetime\": "
       "\"2026-12-07T01:30\"}]}",
       {2e6, 1e9, std::nullopt, std::nullopt},
       "\"core:datetime\" of captures[0]"},
      {"{\"global\": {}, \"captures\": [{\"core:frequency\": 1e9}, {\"core:frequency\": 1e9}, "
       "{\"core:frequency\": "
       "2e9}]}",
       {},
       "captures[0] and captures[2]"},
      {"{\"global\": {\"core:sample_rate\": 2e6, \"core:datatype\": \"ri8\"}}", {}, "\"core:datatype\""},
      // A GeoJSON point: longitude, latitude and a height that may be left out.
      {"{\"global\": {\"core:sample_rate\": 2e6, \"core:geolocation\": {\"type\": \"Point\", \"coordinates\": "
       "[-4.25, 52.5]}}}",
       {2e6, std::nullopt, std::nullopt, Geolocation{52.5, -4.25, 0.0}},
       ""},
      {"{\"global\": {\"core:sample_rate\": 2e6, \"core:geolocation\": {\"type\": \"Point\", \"coordinates\": "
       "[-4.25, 52.5, 10000]}}}",
       {2e6, std::nullopt, std::nullopt, Geolocation{52.5, -4.25, 10000.0}},
       ""},
      {"{\"global\": {\"core:sample_rate\": 2e6, \"core:geolocation\": {\"type\": \"Point\", \"coordinates\": "
       "[52.5, 91]}}}",
       {2e6, std::nullopt, std::nullopt, std::nullopt},
       "\"core:geolocation\""},
      {"{\"global\": {\"core:geolocation\": {\"type\": \"Point\", \"coordinates\": [180.5, 0]}}}",
       {},
       "\"core:geolocation\""},
      {"{\"global\": {\"core:geolocation\": {\"type\": \"Point\", \"coordinates\": [5, 50, -1001]}}}",
       {},
       "\"core:geolocation\""},
      {"{\"global\": {\"core:geolocation\": {\"type\": \"Polygon\", \"coordinates\": [5, 50]}}}",
       {},
       "\"core:geolocation\""},
      {"{\"global\": {\"core:geolocation\": {\"type\": \"Point\", \"coordinates\": [5]}}}",
       {},
       "\"core:geolocation\""},
      {"{\"global\": {\"core:geolocation\": {\"type\": \"Point\", \"coordinates\": [5, \"50\"]}}}",
       {},
       "\"core:geolocation\""},
      {"{\"global\": {\"core:geolocation\": [5, 50]}}", {}, "\"core:geolocation\""},
  };
  for (const Case& c : cases) {
    std::ofstream(dir.path("a.sigmf-meta")) << c.json;
    std::ostringstream err;
    const CaptureMetadata meta = read_capture_metadata(dir.path("a.bin"), "iqplot", err);
    EXPECT_EQ(meta.sample_rate_hz, c.kept.sample_rate_hz) << c.json;
    EXPECT_EQ(meta.centre_frequency_hz, c.kept.centre_frequency_hz) << c.json;
    EXPECT_EQ(meta.datetime_utc, c.kept.datetime_utc) << c.json;
    EXPECT_EQ(meta.geolocation.has_value(), c.kept.geolocation.has_value()) << c.json;
    if (meta.geolocation && c.kept.geolocation) {
      EXPECT_EQ(meta.geolocation->latitude_deg, c.kept.geolocation->latitude_deg) << c.json;
      EXPECT_EQ(meta.geolocation->height_m, c.kept.geolocation->height_m) << c.json;
    }
    const std::string line = err.str();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), *c.reported == '\0' ? 0 : 1) << line;
    EXPECT_NE(line.find(c.reported), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace iq
