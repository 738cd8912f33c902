// Capture metadata: the file's name, writing and reading it back, and malformed or
// contradictory files reported in one line and ignored.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "io/capture_metadata.hpp"
#include "io/tool_error.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

void write_text(const std::string& path, const std::string& text) {
  test::write_bytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST(CaptureMetadata, FileNameReplacesTheCaptureSuffixOrIsAppended) {
  const struct {
    const char* capture;
    const char* meta;
  } cases[] = {
      {"night.bin", "night.sigmf-meta"},
      {"/data/on.sigmf-data", "/data/on.sigmf-meta"},
      {"night.cu8", "night.cu8.sigmf-meta"},
      {"night", "night.sigmf-meta"},
      {"night.bin.raw", "night.bin.raw.sigmf-meta"},
      {"dir.bin/capture", "dir.bin/capture.sigmf-meta"},
      {".bin", ".sigmf-meta"},
  };
  for (const auto& c : cases) EXPECT_EQ(metadata_path_for(c.capture), c.meta) << c.capture;
}

TEST(CaptureMetadata, WhatIsWrittenIsReadBack) {
  test::ScratchDir dir;
  const CaptureMetadata cases[] = {
      {2.4e6, 1420.405751768e6, "2026-12-07T01:30:00Z"},
      {2048000.0, std::nullopt, std::nullopt},
      {std::nullopt, 100e6, "2026-02-28T23:59:59.25Z"},
      {1.0 / 3.0, 0.0, std::nullopt},
      {},
  };
  for (const CaptureMetadata& meta : cases) {
    const std::string capture = dir.path("sky.bin");
    write_capture_metadata(capture, meta);
    std::ostringstream err;
    const CaptureMetadata back = read_capture_metadata(capture, "iqplot", err);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(back.sample_rate_hz, meta.sample_rate_hz);
    EXPECT_EQ(back.centre_frequency_hz, meta.centre_frequency_hz);
    EXPECT_EQ(back.datetime_utc, meta.datetime_utc);
  }
}

TEST(CaptureMetadata, WrittenFileIsSigmfWithDatatypeCu8) {
  test::ScratchDir dir;
  write_capture_metadata(dir.path("on.sigmf-data"), {2.4e6, 1420.4e6, "2026-12-07T01:30:00Z"});
  EXPECT_EQ(test::read_text(dir.path("on.sigmf-meta")),
            "{\n"
            "    \"global\": {\n"
            "        \"core:datatype\": \"cu8\",\n"
            "        \"core:sample_rate\": 2400000.0,\n"
            "        \"core:version\": \"1.0.0\"\n"
            "    },\n"
            "    \"captures\": [\n"
            "        {\n"
            "            \"core:sample_start\": 0,\n"
            "            \"core:frequency\": 1420400000.0,\n"
            "            \"core:datetime\": \"2026-12-07T01:30:00Z\"\n"
            "        }\n"
            "    ],\n"
            "    \"annotations\": []\n"
            "}\n");
}

TEST(CaptureMetadata, WriterRefusesValuesTheReaderWouldIgnore) {
  test::ScratchDir dir;
  const CaptureMetadata cases[] = {
      {0.0, std::nullopt, std::nullopt},
      {-2.4e6, std::nullopt, std::nullopt},
      {std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt},
      {std::nullopt, -1.0, std::nullopt},
      {std::nullopt, std::numeric_limits<double>::quiet_NaN(), std::nullopt},
      {std::nullopt, std::nullopt, "2026-12-07 01:30:00"},
  };
  for (const CaptureMetadata& meta : cases) {
    EXPECT_THROW(write_capture_metadata(dir.path("x.bin"), meta), ToolError);
    EXPECT_FALSE(test::exists(dir.path("x.sigmf-meta")));
  }
}

TEST(CaptureMetadata, MissingFileAndStandardInputHaveNoneAndSayNothing) {
  test::ScratchDir dir;
  write_text(dir.path("-.sigmf-meta"), "{\"global\": {\"core:sample_rate\": 1e6}}");
  for (const std::string& capture : {dir.path("absent.bin"), std::string("-")}) {
    std::ostringstream err;
    const CaptureMetadata meta = read_capture_metadata(capture, "iqplot", err);
    EXPECT_FALSE(meta.sample_rate_hz || meta.centre_frequency_hz || meta.datetime_utc) << capture;
    EXPECT_EQ(err.str(), "");
  }
}

TEST(CaptureMetadata, ReadsWhatOtherWritersPut) {
  test::ScratchDir dir;
  const struct {
    const char* json;
    std::optional<double> rate;
    std::optional<double> centre;
    std::optional<std::string> datetime;
  } cases[] = {
      // Integers, extra keys, several segments at one frequency, no datatype.
      {R"({"global": {"core:sample_rate": 2048000, "core:author": "x"},
           "captures": [{"core:sample_start": 0, "core:frequency": 1420000000,
                         "core:datetime": "2026-12-07T00:00:00.000Z"},
                        {"core:sample_start": 100, "core:frequency": 1420000000}]})",
       2048000.0, 1420e6, "2026-12-07T00:00:00.000Z"},
      {R"({"global": {"core:datatype": "cu8"}})", std::nullopt, std::nullopt, std::nullopt},
      {R"({"global": {}, "captures": []})", std::nullopt, std::nullopt, std::nullopt},
      {R"({"global": {"core:sample_rate": 2.4e6}, "captures": [{"core:sample_start": 0}]})", 2.4e6,
       std::nullopt, std::nullopt},
      // The time of a later segment is not the capture's start.
      {R"({"global": {}, "captures": [{}, {"core:datetime": "2026-12-07T00:00:00Z"}]})", std::nullopt,
       std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    write_text(dir.path("a.sigmf-meta"), c.json);
    std::ostringstream err;
    const CaptureMetadata meta = read_capture_metadata(dir.path("a.sigmf-data"), "iqplot", err);
    EXPECT_EQ(err.str(), "") << c.json;
    EXPECT_EQ(meta.sample_rate_hz, c.rate) << c.json;
    EXPECT_EQ(meta.centre_frequency_hz, c.centre) << c.json;
    EXPECT_EQ(meta.datetime_utc, c.datetime) << c.json;
  }
}

TEST(CaptureMetadata, MalformedOrContradictoryFileIsReportedInOneLineAndIgnored) {
  test::ScratchDir dir;
  const struct {
    std::string json;
    const char* why;
  } cases[] = {
      {"", "not valid JSON"},
      {"{\"global\": {\"core:sample_rate\": 2.4e6,\n\n}", "not valid JSON"},
      {"{\"global\": {}} trailing", "not valid JSON"},
      {"[1, 2]", "not a JSON object"},
      {"{\"captures\": []}", "no \"global\" object"},
      {"{\"global\": 3}", "no \"global\" object"},
      {R"({"global": {"core:datatype": 8}})", "\"core:datatype\" is not a text"},
      {R"({"global": {"core:datatype": "ci16_le", "core:sample_rate": 1e6}})",
       "\"core:datatype\" is \"ci16_le\" but the capture is read as cu8"},
      {R"({"global": {"core:sample_rate": "2.4e6"}})", "\"core:sample_rate\" is not a number above 0"},
      {R"({"global": {"core:sample_rate": 0}})", "\"core:sample_rate\" is not a number above 0"},
      {R"({"global": {"core:sample_rate": -2.4e6}})", "\"core:sample_rate\" is not a number above 0"},
      {R"({"global": {"core:sample_rate": 1e999}})", "not valid JSON"},
      {R"({"global": {}, "captures": {}})", "\"captures\" is not an array"},
      {R"({"global": {}, "captures": [3]})", "captures[0] is not an object"},
      {R"({"global": {}, "captures": [{"core:frequency": -1}]})",
       "\"core:frequency\" of captures[0] is not a number of 0 Hz or more"},
      {R"({"global": {}, "captures": [{}, {"core:frequency": null}]})",
       "\"core:frequency\" of captures[1] is not a number of 0 Hz or more"},
      {R"({"global": {}, "captures": [{"core:frequency": 1.4e9}, {"core:frequency": 1.5e9}]})",
       "captures[0] and captures[1] give different \"core:frequency\" values"},
      {R"({"global": {}, "captures": [{"core:datetime": "2026-12-07T01:30:00"}]})",
       "\"core:datetime\" of captures[0] is not a UTC time like 2026-12-07T01:30:00Z"},
      {R"({"global": {}, "captures": [{"core:datetime": 1796607000}]})",
       "\"core:datetime\" of captures[0] is not a UTC time like 2026-12-07T01:30:00Z"},
      {R"({"global": {"core:sample_rate": 2.4e6, "core:sample_rate": 2.048e6}})",
       "\"core:sample_rate\" appears twice in one object"},
      {R"({"global": {}, "captures": [{"core:frequency": 1e9, "core:frequency": 1e9}]})",
       "\"core:frequency\" appears twice in one object"},
      {"{\"global\": {\"core:datatype\": \"a\\nb\"}}", "\"core:datatype\" is \"a b\" but the capture is read as cu8"},
  };
  for (const auto& c : cases) {
    const std::string meta_path = dir.path("bad.sigmf-meta");
    write_text(meta_path, c.json);
    std::ostringstream err;
    const CaptureMetadata meta = read_capture_metadata(dir.path("bad.bin"), "iqwaterfall", err);
    EXPECT_EQ(err.str(), "iqwaterfall: " + meta_path + ": " + c.why + "; ignored\n") << c.json;
    EXPECT_FALSE(meta.sample_rate_hz || meta.centre_frequency_hz || meta.datetime_utc) << c.json;
  }
}

TEST(CaptureMetadata, UnreadableOrHugeFileIsReportedAndIgnored) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir.path("folder.sigmf-meta"));
  std::ostringstream err;
  read_capture_metadata(dir.path("folder.bin"), "iqplot", err);
  EXPECT_EQ(err.str(), "iqplot: " + dir.path("folder.sigmf-meta") + ": cannot be read: Is a directory; ignored\n");

  const std::string big = "{\"global\": {}, \"pad\": \"" + std::string(16 << 20, 'x') + "\"}";
  write_text(dir.path("big.sigmf-meta"), big);
  std::ostringstream big_err;
  read_capture_metadata(dir.path("big.bin"), "iqplot", big_err);
  EXPECT_EQ(big_err.str(), "iqplot: " + dir.path("big.sigmf-meta") + ": larger than 16 MiB; ignored\n");
}

TEST(CaptureMetadata, UtcTimesAreReadToTheSecondAndFraction) {
  const struct {
    const char* text;
    std::optional<double> seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0.0},
      {"1970-01-02T00:00:01Z", 86401.0},
      {"2000-03-01T00:00:00Z", 951868800.0},
      {"2026-12-07T01:30:00Z", 1796607000.0},
      {"2024-02-29T12:00:00.5Z", 1709208000.5},
      {"1969-12-31T23:59:59Z", -1.0},
      {"2026-12-31T23:59:60Z", 1798761600.0},
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
  for (const auto& c : cases) EXPECT_EQ(utc_datetime_seconds(c.text), c.seconds) << c.text;
}

TEST(CaptureMetadata, UtcTextsOfWholeSeconds) {
  const struct {
    std::int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {-1, "1969-12-31T23:59:59Z"},
      {951782400, "2000-02-29T00:00:00Z"},
      {1796607000, "2026-12-07T01:30:00Z"},
      {253402300799, "9999-12-31T23:59:59Z"},
      {-62167219200, "0000-01-01T00:00:00Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utc_datetime_text(c.seconds), c.text) << c.seconds;
    EXPECT_EQ(utc_datetime_seconds(c.text), static_cast<double>(c.seconds)) << c.text;
  }
}

}  // namespace
}  // namespace iq
