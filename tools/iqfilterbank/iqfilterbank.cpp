// SPDX-License-Identifier: MIT
// iqfilterbank: cuts a capture (or a live stream on standard input) into samples of
// consecutive frames and writes each sample's mean power per channel, as iqspec computes it for
// those frames, as 32-bit floats in a SIGPROC filterbank: the keyword header, then per sample
// every channel from the highest frequency down (fch1 the highest, foff negative), as the
// pulsar software expects.
#include "iqfilterbank.hpp"

#include <unistd.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "astro/observation_options.hpp"
#include "astro/sky.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"
#include "dsp/spectrum.hpp"
#include "io/capture_metadata.hpp"
#include "io/capture_reader.hpp"
#include "io/live_input.hpp"
#include "io/output_file.hpp"
#include "io/sigproc_header.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "runs/spectrum_rows.hpp"

namespace iq {

namespace {

constexpr const char* kTool = "iqfilterbank";

std::vector<OptionSpec> filterbank_options() {
  std::vector<OptionSpec> options = capture_metadata_options();
  options.push_back({.name = "--source", .argument = "NAME", .help = "the source's name (default \"unknown\")"});
  options.push_back(observation_option("--radec"));
  return options;
}

const Command kCommand{
    .tool = kTool,
    .usage =
        "Usage: iqfilterbank <capture|-> <out.fil> <channels> <frames per sample> [options]   "
        "(iqfilterbank -h lists the options)",
    .summary =
        "Writes the power of a capture in <channels> frequency channels over time as a SIGPROC\n"
        "filterbank (32-bit floats, highest frequency first) for the pulsar software: each sample\n"
        "is the mean power per bin of <frames per sample> consecutive frames of <channels> points,\n"
        "exactly as iqspec computes it. \"-\" reads a live stream on standard input until it ends\n"
        "or a stop signal (SIGINT, SIGTERM, SIGHUP) comes, keeping every complete sample. The rate,\n"
        "centre and start come from <capture>.sigmf-meta or the options; all three are needed.",
    .parameters = {text_parameter("capture|-"), text_parameter("out.fil"),
                   points_parameter("channels", kSpectrumMaxPoints, "a power of two from 1 to 131072"),
                   whole_parameter("frames per sample", INT64_MIN, INT64_MAX,
                                   "from 1 to (2^63 - 1) / (2 x channels)")},
    .options = filterbank_options(),
    .usage_on_console = false,
};

// A sample's byte count must fit 64 bits.
std::int64_t frames_per_sample_argument(const Run& run, std::int32_t channels) {
  const std::int64_t most = INT64_MAX / (2 * std::int64_t{channels});
  const std::int64_t frames = run.whole(3);
  if (frames < 1 || frames > most)
    run.refuse(3, cformat("a whole number from 1 to %lld", static_cast<long long>(most)));
  return frames;
}

// A field of the metadata that the header needs, refused by name when neither the metadata nor
// the options give it.
template <typename T>
const T& known(const std::optional<T>& value, const char* what, const char* option) {
  if (!value) {
    throw ToolError(cformat("the capture's %s is not known: give %s or keep it in the capture's SigMF metadata",
                            what, option));
  }
  return *value;
}

// The header: the channels' frequencies from the centre and rate, the sample time from the
// frames per sample, the start from the metadata.
FilterbankHeader filterbank_header(const Run& run, const CaptureMetadata& meta, std::int32_t channels,
                                   std::int64_t frames_per_sample) {
  const double rate_hz = known(meta.sample_rate_hz, "sample rate", "--rate MHZ");
  const double centre_hz = known(meta.centre_frequency_hz, "centre frequency", "--centre MHZ");
  const auto start = parse_utc(known(meta.datetime_utc, "start", "--start TIME"));
  if (!start)
    throw ToolError("the capture's start '" + *meta.datetime_utc + "' is not a UTC time from 1900 to 2100");
  const double channel_hz = rate_hz / channels;
  FilterbankHeader header;
  header.rawdatafile = run.text(0);
  header.source_name = run.options().value("--source").value_or("unknown");
  if (const auto radec = radec_from_options(run.options())) {
    header.src_raj = sigproc_right_ascension(radec->ra_deg);
    header.src_dej = sigproc_declination(radec->dec_deg);
  }
  header.tstart_mjd = modified_julian_date(start->jd1, start->jd2);
  header.tsamp_s = static_cast<double>(frames_per_sample) * channels / rate_hz;
  const ChannelFrequencies frequencies = channel_frequencies(centre_hz, rate_hz, channels);
  header.fch1_mhz = frequencies.fch1_mhz;
  header.foff_mhz = frequencies.foff_mhz;
  header.nchans = channels;
  const double lowest_hz = centre_hz - channels / 2 * channel_hz;
  if (!(lowest_hz > 0.0)) {
    throw ToolError(
        cformat("the lowest channel lies at %.6f MHz: the band (centre %.6f MHz, rate %.6f MHz) must lie "
                "above 0 MHz",
                lowest_hz / 1e6, centre_hz / 1e6, rate_hz / 1e6));
  }
  return header;
}

// Writes each sample as it is completed: every channel's mean power, the highest frequency
// first. A live file is flushed after every sample.
RowSink sample_writer(OutputFile& file, std::int64_t frames_per_sample, bool live) {
  return [&file, frames_per_sample, live, bytes = std::string()](const SpectrumAccumulator& row,
                                                                 ChunkWorkers&) mutable {
    bytes.clear();
    for (std::int32_t line = row.points() - 1; line >= 0; --line) {
      append_float32(bytes, static_cast<float>(row.line_mean(line, frames_per_sample)));
    }
    file.write(bytes);
    if (live) file.flush();
  };
}

void print_figures(std::ostream& out, const RowFigures& figures, std::int64_t frames_per_sample) {
  out << cformat("Number of Bytes = %lld   No. of FFTs=%lld   Samples=%lld\n",
                 static_cast<long long>(figures.bytes), static_cast<long long>(figures.rows * frames_per_sample),
                 static_cast<long long>(figures.rows));
}

void print_header(std::ostream& out, const FilterbankHeader& header) {
  out << cformat("Channels=%d   fch1=%.6f MHz   foff=%.9f MHz   tsamp=%.9g s   tstart=MJD %.9f\n", header.nchans,
                 header.fch1_mhz, header.foff_mhz, header.tsamp_s, header.tstart_mjd);
}

RowFigures filterbank_of_stream(OutputFile& file, std::int32_t channels, std::int64_t frames_per_sample,
                                const Run& run) {
  // Taken after the file exists, whose own interrupt clean-up it then stands in for: from here
  // on a stop signal ends the stream, and the file, already in place, keeps its samples.
  LiveInput input(STDIN_FILENO, "standard input");
  file.publish();
  const RowFigures figures =
      spectrum_rows_of_stream(input, channels, frames_per_sample, sample_writer(file, frames_per_sample, true));
  if (input.stop_signal() != 0) {
    run.err() << cformat("%s: the stream was stopped by %s; the file keeps its %lld complete samples\n", kTool,
                         signal_name(input.stop_signal()), static_cast<long long>(figures.rows));
  }
  print_figures(run.out(), figures, frames_per_sample);
  return figures;
}

int filterbank_run(Run& run) {
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  const CaptureMetadata given = given_metadata(run.options());
  run.convert_numbers();
  const std::int32_t channels = run.whole32(2);
  const std::int64_t frames_per_sample = frames_per_sample_argument(run, channels);

  std::optional<CaptureReader> capture = open_capture_or_stream(infile);
  const CaptureMetadata meta = with_given(read_capture_metadata(infile, kTool, run.err()), given);
  const FilterbankHeader header = filterbank_header(run, meta, channels, frames_per_sample);
  if (capture) require_whole_row(*capture, channels, frames_per_sample, "sample");

  OutputFile file(outfile, {capture ? capture->id() : standard_input_id()}, OutputKind::pulsar_data());
  file.write(filterbank_header_bytes(header));
  print_header(run.out(), header);
  RowFigures figures;
  if (capture) {
    figures = file_rows(*capture, channels, frames_per_sample);
    print_figures(run.out(), figures, frames_per_sample);
    spectrum_rows_of_file(*capture, channels, frames_per_sample, figures,
                          sample_writer(file, frames_per_sample, false));
  } else {
    figures = filterbank_of_stream(file, channels, frames_per_sample, run);
  }
  file.commit();
  report_row_ends(run.err(), kTool, figures, frames_per_sample, "sample");
  run.out() << cformat("\nInfile=%s    Outfile=%s   Channels=%d   Frames per sample=%lld\n", infile.c_str(),
                       outfile.c_str(), channels, static_cast<long long>(frames_per_sample));
  return kExitSuccess;
}

}  // namespace

int run_iqfilterbank(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, filterbank_run);
}

}  // namespace iq
