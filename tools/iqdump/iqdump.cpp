// SPDX-License-Identifier: MIT
// iqdump: writes blocks of 8192 complex samples from a chosen block up to (not including) an
// end block as lines of sample number, normalised I and normalised Q.
#include "iqdump.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "dsp/capture_format.hpp"
#include "io/capture_reach.hpp"
#include "io/capture_reader.hpp"
#include "cli/console_texts.hpp"
#include "io/output_file.hpp"
#include "arith/precision.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kIqdumpUsage =
    "Format: iqdump <Infile>  <Outfile> <number of 8192 I/Q blocks-start> "
    "<number of 8192 I/Q blocks-end>";

// Sizes a column text; a normalised value never needs more than "\t-0.9961\n".
void set_text(std::array<char, 16>& chars, std::size_t& size, const std::string& text) {
  if (text.size() > chars.size()) throw std::logic_error("dump column text too long: " + text);
  std::memcpy(chars.data(), text.data(), text.size());
  size = text.size();
}

}  // namespace

float dump_value(std::uint8_t byte) {
  const float value = byte;
  return static_cast<float>((static_cast<extended>(value) - widen(127.5)) / widen(128.0));
}

DumpFormatter::DumpFormatter() {
  for (int b = 0; b < 256; ++b) {
    const double value = dump_value(static_cast<std::uint8_t>(b));
    set_text(i_texts_[b].chars, i_texts_[b].size, cformat("\t%1.4f", value));
    set_text(q_texts_[b].chars, q_texts_[b].size, cformat("\t%1.4f\n", value));
  }
}

std::string_view DumpFormatter::lines(std::span<const std::uint8_t> bytes, std::int64_t first_sample) {
  const std::size_t samples = bytes.size() / 2;
  // Every line may take the longest length, and the last column copy writes a whole array.
  const std::size_t room = samples * kMaxLineChars + sizeof(ValueText::chars);
  if (buffer_.size() < room) buffer_.resize(room);
  char* const begin = buffer_.data();
  char* p = begin;
  for (std::size_t i = 0; i < samples; ++i) {
    p = std::to_chars(p, p + kMaxNumberChars, first_sample + static_cast<std::int64_t>(i)).ptr;
    const ValueText& in_phase = i_texts_[bytes[2 * i]];
    std::memcpy(p, in_phase.chars.data(), in_phase.chars.size());
    p += in_phase.size;
    const ValueText& quadrature = q_texts_[bytes[2 * i + 1]];
    std::memcpy(p, quadrature.chars.data(), quadrature.chars.size());
    p += quadrature.size;
  }
  return {begin, static_cast<std::size_t>(p - begin)};
}

namespace {

const Command kCommand{
    .tool = "iqdump",
    .usage = kIqdumpUsage,
    .summary =
        "Writes the normalised I and Q values of the blocks of 8192 complex samples from the start\n"
        "block up to (not including) the end block, one sample a line.",
    .parameters = {text_parameter("Infile"), text_parameter("Outfile"),
                   whole_parameter("number of 8192 I/Q blocks-start", 0),
                   whole_parameter("number of 8192 I/Q blocks-end", 0)},
};

// On a capture that can seek, a dump takes at most one block that lies wholly past the capture's
// end: any further one would be padding as well. An end below the start dumps nothing and
// prints a negative figure, which may count no more blocks than a dump of the capture takes.
void check_dump_reach(const Run& run, const CaptureReader& capture, std::int64_t first_block,
                      std::int64_t end_block) {
  const std::int64_t length = capture.length();
  if (length < 0) return;
  const std::int64_t whole_dump = blocks_within_reach(length, 0);
  const std::int64_t least = std::max<std::int64_t>(first_block - whole_dump, 0);
  const std::int64_t most =
      std::min<std::int64_t>(first_block + blocks_within_reach(length, first_block * kBlockBytes),
                             std::numeric_limits<std::int32_t>::max());
  if (end_block < least || end_block > most) {
    run.refuse(3, cformat("from %lld to %lld: %s holds %lld bytes, a dump takes at most one block wholly past its "
                          "end, and an end below the start lies at most %lld blocks below it",
                          static_cast<long long>(least), static_cast<long long>(most), capture.path().c_str(),
                          static_cast<long long>(length), static_cast<long long>(whole_dump)));
  }
}

int dump_run(Run& run) {
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  run.convert_numbers();
  CaptureReader capture = open_capture(infile, texts::kCantOpenLine);
  // A negative start would seek before the start of the file.
  const std::int64_t first_block = run.whole(2);
  const std::int64_t end_block = run.whole(3);
  check_dump_reach(run, capture, first_block, end_block);
  OutputFile table(outfile, {capture.id()});

  // The block count comes from the arguments alone: a block past the end of the file is
  // dumped in full (its bytes read as 255), and an end not above the start dumps nothing.
  const std::int64_t blocks = end_block - first_block;
  run.out() << cformat("Number of I/P Bytes = %lld\n", static_cast<long long>(capture.length()));
  run.out() << cformat("Number of O/P Samples = %lld\n", static_cast<long long>(kBlockBytes * blocks));

  capture.skip(first_block * kBlockBytes);
  capture.show_progress(blocks * kBlockBytes);
  DumpFormatter formatter;
  std::vector<std::uint8_t> block(kBlockBytes);
  for (std::int64_t b = 0; b < blocks; ++b) {
    capture.read(block);
    table.write(formatter.lines(block, (first_block + b) * kBlockSamples));
  }
  table.commit();
  if (capture.length() >= 0) {
    const std::int64_t padding = padding_bytes(capture.length(), first_block * kBlockBytes, blocks * kBlockBytes);
    if (padding > 0) report_padding(run.err(), run.tool(), outfile, infile, padding);
  }
  run.out() << cformat(texts::kInfileOutfileLine, infile.c_str(), outfile.c_str());
  return kExitSuccess;
}

}  // namespace

int run_iqdump(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, dump_run);
}

}  // namespace iq
