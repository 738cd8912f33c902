// SPDX-License-Identifier: MIT
// The pulsar software's files: a one-channel series in each format (.fil, .tim, .dat with .inf)
// searches exactly as the capture it came from, and 8-bit channels add up. Malformed headers are in the golden
// corpus.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "cyclesearch.hpp"
#include "io/capture_reader.hpp"
#include "io/pulsar_files.hpp"
#include "io/text_format.hpp"
#include "iqfilterbank.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

using test::run_tool;

const std::vector<std::string> kPlace = {"--rate", "2.4", "--centre", "430", "--start", "2026-12-07T06:00:00Z"};

// The samples of a SIGPROC file: the bytes after HEADER_END.
std::string data_of(const std::string& path) {
  const std::string bytes = test::read_text(path);
  return bytes.substr(bytes.find("HEADER_END") + 10);
}

std::vector<double> samples_of(const std::string& path, std::size_t count) {
  const PulsarHeader header = read_pulsar_header(path);
  auto data = CaptureReader::open(header.data_path);
  PulsarSamples samples(file_rows(*data, header), header);
  std::vector<double> values(count);
  samples.read(values);
  return values;
}

// The console from the noise line to the names of the files (the lines before count the
// input's bytes).
std::string verdict_of(const std::string& console) {
  const std::size_t first = console.find("Noise:");
  return console.substr(first, console.find("Infile=") - first);
}

TEST(PulsarFilesTest, OneChannelSeriesInEveryFormatSearchesAsTheCapture) {
  test::ScratchDir dir;
  const std::string in = dir.path("cap.bin");
  test::write_bytes(in, test::random_bytes(2 * 6000, 11));
  const std::vector<std::string> search = {"16", "1", "0.01", "20"};
  auto capture_args = std::vector<std::string>{in, dir.path("capture.txt"), "2.4"};
  capture_args.insert(capture_args.end(), search.begin(), search.end());
  const auto capture_run = run_tool(run_cyclesearch, capture_args);
  ASSERT_EQ(capture_run.status, 0) << capture_run.err;

  std::vector<std::string> args = {in, dir.path("s.fil"), "1", "1"};
  args.insert(args.end(), kPlace.begin(), kPlace.end());
  ASSERT_EQ(run_tool(run_iqfilterbank, args).status, 0);
  const std::string floats = data_of(dir.path("s.fil"));
  test::SigprocBytes tim;
  tim.word("HEADER_START").integer("data_type", 2).real("tstart", 61381.25).real("tsamp", 1 / 2.4e6);
  tim.integer("nbits", 32).integer("nifs", 1).word("HEADER_END");
  test::write_bytes(dir.path("s.tim"), {tim.bytes.begin(), tim.bytes.end()});
  std::ofstream(dir.path("s.tim"), std::ios::app | std::ios::binary) << floats;
  std::ofstream(dir.path("s.dat"), std::ios::binary) << floats;
  std::ofstream(dir.path("s.inf")) << " Data file name without suffix          =  s\n"
                                   << " Epoch of observation (MJD)             =  61381.25\n"
                                   << " Number of bins in the time series      =  6000\n"
                                   << cformat(" Width of each time series bin (sec)    =  %.17g\n", 1 / 2.4e6)
                                   << " Any breaks in the data? (1 yes, 0 no)  =  0\n";
  for (const char* file : {"s.fil", "s.tim", "s.dat", "s.inf"}) {
    std::vector<std::string> file_args = {dir.path(file), dir.path("series.txt"), "-"};
    file_args.insert(file_args.end(), search.begin(), search.end());
    const auto result = run_tool(run_cyclesearch, file_args);
    ASSERT_EQ(result.status, 0) << file << ": " << result.err;
    EXPECT_EQ(verdict_of(result.out), verdict_of(capture_run.out)) << file;
    EXPECT_EQ(test::read_text(dir.path("series.txt")), test::read_text(dir.path("capture.txt"))) << file;
  }
}

TEST(PulsarFilesTest, EightBitChannelsAddUp) {
  test::ScratchDir dir;
  test::SigprocBytes fil;
  fil.word("HEADER_START").integer("data_type", 1).real("tsamp", 1e-3).real("fch1", 430).real("foff", -0.5);
  fil.integer("nchans", 3).integer("nbits", 8).word("HEADER_END");
  std::vector<std::uint8_t> bytes(fil.bytes.begin(), fil.bytes.end());
  for (std::uint8_t b : {1, 2, 3, 250, 251, 252}) bytes.push_back(b);
  test::write_bytes(dir.path("b.fil"), bytes);
  EXPECT_EQ(read_pulsar_header(dir.path("b.fil")).samples, 2);
  EXPECT_EQ(samples_of(dir.path("b.fil"), 2), (std::vector<double>{6.0, 753.0}));
  // Channel c taken c samples later: one sample, the first row's first, the second's second...
  for (std::uint8_t b : {10, 20, 30}) bytes.push_back(b);
  test::write_bytes(dir.path("b.fil"), bytes);
  const PulsarHeader header = read_pulsar_header(dir.path("b.fil"));
  auto data = CaptureReader::open(dir.path("b.fil"));
  PulsarSamples shifted(file_rows(*data, header), header, {0, 1, 2});
  EXPECT_EQ(shifted.samples(), 1);
  std::vector<double> value(1);
  shifted.read(value);
  EXPECT_EQ(value[0], 1.0 + 251.0 + 30.0);
}

}  // namespace
}  // namespace iq
