// SPDX-License-Identifier: MIT
// The spectrum of a capture: the pump's frames through the batched transforms, and the table.
#include "flow/spectrum_run.hpp"

#include <algorithm>
#include <charconv>

#include "io/text_format.hpp"

namespace iq {

std::size_t SpectrumFeed::batch_frames() {
  const std::size_t most = batches_.batch_frames();
  return limit_ ? static_cast<std::size_t>(std::min<std::int64_t>(limit_(), static_cast<std::int64_t>(most)))
                : most;
}

void SpectrumFeed::take(std::size_t count, const FrameFill& fill) {
  batches_.transform(count, fill);
  add_(count);
}

SpectrumAccumulator accumulate_spectrum(CaptureReader& capture, std::int32_t points, std::int64_t frames,
                                        unsigned threads) {
  SpectrumAccumulator spectrum(points);
  if (frames <= 0) return spectrum;
  SpectrumFrames batches(points, frames, threads);
  SpectrumFeed feed(batches, [&](std::size_t count) { batches.add(spectrum, 0, count); });
  pump_frames(capture, 2 * static_cast<std::size_t>(points), frames, feed);
  return spectrum;
}

void append_spectrum_lines(std::string& text, const SpectrumAccumulator& spectrum, std::int64_t frames,
                           std::int32_t first, std::int32_t last, SpectrumDigits digits) {
  const std::int32_t half = spectrum.points() / 2;
  for (std::int32_t i = first; i < last; ++i) {
    // "%ld    %3.3f\n" without printf's cost, which a waterfall pays once per row:
    // format_fixed3 rounds exactly as printf does, and no value is shorter than the width 3
    // ("0.000" has five characters, "nan" and "inf" three).
    char line[400];  // a bin number, four blanks, any double with three decimals
    char* end = std::to_chars(line, line + 24, static_cast<long>(i - half)).ptr;
    end = std::copy_n("    ", 4, end);
    const double mean = spectrum.line_mean(i, frames);
    end = digits == SpectrumDigits::kAll ? format_all_digits(end, mean) : format_fixed3(end, mean);
    *end++ = '\n';
    text.append(line, end);
  }
}

void write_spectrum_table(OutputFile& table, const SpectrumAccumulator& spectrum, std::int64_t frames) {
  constexpr std::int32_t kLinesPerWrite = 4096;
  std::string lines;
  for (std::int32_t first = 0; first < spectrum.points(); first += kLinesPerWrite) {
    lines.clear();
    append_spectrum_lines(lines, spectrum, frames, first, std::min(spectrum.points(), first + kLinesPerWrite));
    table.write(lines);
  }
}

}  // namespace iq
