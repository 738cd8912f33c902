// SPDX-License-Identifier: MIT
// lagscan: slides the reference window of each capture (L amplitudes from sample 7000 of block
// 0) along the other capture one sample at a time, writes one table row per lag with both
// coefficients, and reports after every block the best coefficient and its lag so far.
#include "lagscan.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <charconv>

#include "io/capture_reader.hpp"
#include "cli/console_texts.hpp"
#include "dsp/chunk_workers.hpp"
#include "io/fixed_format.hpp"
#include "lag_correlator.hpp"
#include "io/output_file.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kLagscanUsage =
    "Format: lagscan <infile1> <infile2> <outfile> <sample length> <No 8192 IQ blocks>";

// Blocks are decided in pairs.
constexpr std::int64_t kPairBytes = 2 * kBlockBytes;

// Rows formatted per share of the workers: more shares than threads even out their speeds.
constexpr std::size_t kRowShares = 8;

// One row "%lld    %3.7f    %3.7f\n" per lag position of the last block: the exact integer lag
// and both coefficients (never shorter than the field width of 3). The workers format shares
// of the rows side by side; the shares are written in order.
void write_rows(LagCorrelator& correlator, std::vector<std::string>& shares, OutputFile& table) {
  const auto one_on_two = correlator.one_on_two();
  const auto two_on_one = correlator.two_on_one();
  const auto count = static_cast<std::int64_t>(one_on_two.size());
  correlator.workers().run(shares.size(), [&](std::size_t c) {
    const ItemRange range =
        share_of(count, static_cast<std::int64_t>(c), static_cast<std::int64_t>(shares.size()));
    std::string& rows = shares[c];
    rows.clear();
    char lag[24];
    for (auto i = static_cast<std::size_t>(range.begin); i < static_cast<std::size_t>(range.end); ++i) {
      rows.append(lag,
                  std::to_chars(lag, lag + sizeof lag, correlator.first_lag() + static_cast<std::int64_t>(i)).ptr);
      rows += "    ";
      append_fixed_float(rows, one_on_two[i], 7);
      rows += "    ";
      append_fixed_float(rows, two_on_one[i], 7);
      rows += '\n';
    }
  });
  for (const std::string& rows : shares) table.write(rows);
}

const Command kCommand{
    .tool = "lagscan",
    .usage = kLagscanUsage,
    .summary =
        "Cross-correlates the amplitudes of two captures of the same length, block pair by block\n"
        "pair, over every lag up to <sample length> samples each way, and writes the normalised\n"
        "correlation per lag; the console shows the best lag in each direction.",
    .parameters = {text_parameter("Infile1"), text_parameter("Infile2"), text_parameter("Outfile"),
                   whole_parameter("sample length", 0, LagCorrelator::kMaxWindow),
                   // Blocks are taken in pairs: fewer than two would correlate nothing.
                   whole_parameter("No 8192 IQ blocks", 2, INT32_MAX,
                                   "from 2 to 2147483647 (blocks go in pairs)")},
};

int lag_run(Run& run) {
  std::ostream& out = run.out();
  const std::string& infile1 = run.text(0);
  const std::string& infile2 = run.text(1);
  const std::string& outfile = run.text(2);
  CaptureReader capture1 = open_capture(infile1, texts::kCantOpenLine);
  CaptureReader capture2 = open_capture(infile2, texts::kCantOpenLine);
  run.convert_numbers();
  const std::int32_t window = run.whole32(3);
  const std::int32_t blocks_asked = run.whole32(4);
  require_measurable(capture1);
  require_measurable(capture2);
  const std::int64_t file_end = capture1.length();
  if (file_end != capture2.length()) {
    throw ToolError(
        "Infiles unequal length\n",
        cformat("Infiles unequal length: %s holds %lld bytes, %s %lld", infile1.c_str(),
                static_cast<long long>(file_end), infile2.c_str(), static_cast<long long>(capture2.length())));
  }
  OutputFile table(outfile, {capture1.id(), capture2.id()});
  const std::int64_t pairs = std::min<std::int64_t>(file_end / kPairBytes, blocks_asked / 2);
  out << cformat("No. Input Bytes = %lld   No. of IQ Samples=%lld\n\n", static_cast<long long>(file_end),
                 static_cast<long long>(pairs * kBlockBytes));
  out << "Block\tSample\tCorr\tOffset\tCorr\tOffset\n";
  out << "Size\tWidth\tPeak1\t1 on 2\tPeak2   2 on 1\n\n";

  // On a terminal the per-block console lines show the progress; a progress line there
  // would cut into them, so it is shown only while those lines go elsewhere.
  if (::isatty(STDOUT_FILENO) != 1) capture1.show_progress(pairs * 2 * kBlockBytes);
  LagCorrelator correlator(window, worker_thread_count());
  std::vector<std::uint8_t> block1(static_cast<std::size_t>(kBlockBytes));
  std::vector<std::uint8_t> block2(block1.size());
  std::vector<std::string> rows(kRowShares);
  for (std::int64_t b = 0; b < 2 * pairs; ++b) {
    capture1.read(block1);
    capture2.read(block2);
    correlator.add_block(block1, block2);
    const LagPeak& peak1 = correlator.peak_one_on_two();
    const LagPeak& peak2 = correlator.peak_two_on_one();
    out << cformat("%d\t%d\t%1.3f\t%lld\t%1.3f\t%lld\n", static_cast<int>(kBlockSamples), window,
                   static_cast<double>(peak1.value), static_cast<long long>(peak1.lag),
                   static_cast<double>(peak2.value), static_cast<long long>(peak2.lag));
    write_rows(correlator, rows, table);
    const auto last_lag = correlator.first_lag() + static_cast<std::int64_t>(correlator.one_on_two().size()) - 1;
    out << cformat("No IQ amplitudes cross-correlated: = %lld\n", static_cast<long long>(kLagOrigin + last_lag));
  }
  table.commit();
  out << cformat("\nInfile1=%s    Infile2=%s    Outfile=%s   No Samples=%d\n", infile1.c_str(), infile2.c_str(),
                 outfile.c_str(), window);
  if (file_end < kPairBytes) no_whole_unit(infile1, "pair of blocks of 8192 samples");
  return kExitSuccess;
}

}  // namespace

int run_lagscan(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, lag_run);
}

}  // namespace iq
