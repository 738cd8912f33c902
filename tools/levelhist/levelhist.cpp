// SPDX-License-Identifier: MIT
// levelhist: counts the byte values (I and Q together) of the whole 512-byte chunks of a
// capture and writes one line per level from -128 to 127.
#include "levelhist.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "dsp/chunk_workers.hpp"
#include "io/capture_reader.hpp"
#include "io/read_buffer.hpp"
#include "cli/console_texts.hpp"
#include "io/output_file.hpp"
#include "arith/precision.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kLevelhistUsage = "Format: levelhist <Infile>  <Outfile> ";
// Bytes are counted in whole chunks of 512 (256 I/Q pairs); the bytes after the last whole
// chunk are not counted.
constexpr std::int64_t kLevelChunkBytes = 512;

// One byte of each lane from a 64-bit word.
template <typename Lanes>
inline void count_word(Lanes& lanes, std::uint64_t word) {
  ++lanes[0][word & 0xFF];
  ++lanes[1][(word >> 8) & 0xFF];
  ++lanes[2][(word >> 16) & 0xFF];
  ++lanes[3][(word >> 24) & 0xFF];
  ++lanes[4][(word >> 32) & 0xFF];
  ++lanes[5][(word >> 40) & 0xFF];
  ++lanes[6][(word >> 48) & 0xFF];
  ++lanes[7][static_cast<std::size_t>(word >> 56)];
}

}  // namespace

LevelCounter::LevelCounter(std::size_t flush_bytes) : flush_bytes_(std::max<std::size_t>(flush_bytes, 1)) {}

void LevelCounter::add(std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const std::size_t take = std::min(bytes.size(), flush_bytes_ - pending_bytes_);
    count(bytes.first(take));
    bytes = bytes.subspan(take);
    pending_bytes_ += take;
    if (pending_bytes_ == flush_bytes_) flush();
  }
}

// Two words per round: the loads of the second overlap the increments of the first.
void LevelCounter::count(std::span<const std::uint8_t> bytes) {
  static_assert(kLanes == 8, "one lane per byte of a 64-bit word");
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  for (; left >= 16; left -= 16, p += 16) {
    std::uint64_t first;
    std::uint64_t second;
    std::memcpy(&first, p, 8);
    std::memcpy(&second, p + 8, 8);
    count_word(lanes_, first);
    count_word(lanes_, second);
  }
  for (; left > 0; --left) ++lanes_[left % kLanes][*p++];
}

void LevelCounter::flush() {
  flushed_ = totals();
  lanes_ = {};
  pending_bytes_ = 0;
}

LevelCounts LevelCounter::totals() const {
  LevelCounts sums = flushed_;
  for (const auto& lane : lanes_) {
    for (std::size_t v = 0; v < lane.size(); ++v) sums[v] += lane[v];
  }
  return sums;
}

namespace {

// Counts `bytes` bytes from the read position on, in sequence.
LevelCounts count_in_sequence(CaptureReader& capture, std::int64_t bytes) {
  LevelCounter counter;
  ReadBuffer buffer(CaptureReader::kDefaultBufferBytes);
  for (std::int64_t left = bytes; left > 0;) {
    const auto take =
        static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
    const std::span<std::uint8_t> piece(buffer.data(), take);
    capture.read(piece);
    counter.add(piece);
    left -= static_cast<std::int64_t>(take);
  }
  return counter.totals();
}

// Counts the `bytes` bytes from `offset` on, read at their offsets; 0 or the errno of a failed read.
int count_part(const CaptureReader& capture, std::int64_t offset, std::int64_t bytes, LevelCounts& counts) {
  LevelCounter counter;
  ReadBuffer buffer(std::min<std::size_t>(CaptureReader::kDefaultBufferBytes, static_cast<std::size_t>(bytes)));
  for (std::int64_t done = 0; done < bytes;) {
    const auto take =
        static_cast<std::size_t>(std::min<std::int64_t>(bytes - done, static_cast<std::int64_t>(buffer.size())));
    const std::span<std::uint8_t> piece(buffer.data(), take);
    if (const int error = capture.read_at(offset + done, piece); error != 0) return error;
    counter.add(piece);
    done += static_cast<std::int64_t>(take);
  }
  counts = counter.totals();
  return 0;
}

}  // namespace

LevelCounts count_levels(CaptureReader& capture, std::int64_t bytes, std::int64_t part_bytes) {
  const unsigned threads = worker_thread_count();
  if (threads < 2 || !capture.reads_at_offsets()) return count_in_sequence(capture, bytes);
  ChunkWorkers workers(threads);
  std::vector<LevelCounts> parts(threads);
  LevelCounts totals{};
  // A batch of one part a thread; the read position (and progress line) moves on by the batch.
  for (std::int64_t start = capture.position(), left = bytes; left > 0;) {
    const std::int64_t batch = std::min<std::int64_t>(left, part_bytes * threads);
    std::atomic<int> failure{0};
    workers.run(threads, [&](std::size_t p) {
      const ItemRange range = share_of(batch, static_cast<std::int64_t>(p), threads);
      parts[p] = {};
      if (const int error = count_part(capture, start + range.begin, range.end - range.begin, parts[p]);
          error != 0)
        failure = error;
    });
    if (failure != 0) capture.fail_read(failure);
    for (const LevelCounts& part : parts) {
      for (std::size_t v = 0; v < totals.size(); ++v) totals[v] += part[v];
    }
    capture.skip(batch);
    start += batch;
    left -= batch;
  }
  return totals;
}

std::string level_table(const LevelCounts& counts, std::int64_t chunks) {
  const extended divisor = static_cast<double>(chunks);
  std::string text;
  for (int v = 0; v < 256; ++v) {
    // The count is held as a double and rounded to single precision before the division.
    const float count = static_cast<float>(static_cast<double>(counts[v]));
    const double mean = static_cast<double>(static_cast<extended>(count) / divisor);
    text += cformat("%d    %3.3f\n", v - 128, mean);
  }
  return text;
}

namespace {

const Command kCommand{
    .tool = "levelhist",
    .usage = kLevelhistUsage,
    .summary =
        "Writes how often each byte value occurs in a capture, per chunk of 512 bytes: one line for\n"
        "each value from -128 to 127.",
    .parameters = {text_parameter("Infile"), text_parameter("Outfile")},
};

int levels_run(Run& run) {
  const std::string& infile = run.text(0);
  const std::string& outfile = run.text(1);
  CaptureReader capture = open_capture(infile, texts::kCantOpen);
  require_measurable(capture);
  OutputFile table(outfile, {capture.id()});

  const std::int64_t file_end = capture.length();
  const std::int64_t chunks = (file_end / 256) / 2;
  run.out() << cformat("Number of Bytes = %lld\n", static_cast<long long>(file_end));

  capture.show_progress(chunks * kLevelChunkBytes);
  const LevelCounts counts = count_levels(capture, chunks * kLevelChunkBytes);
  table.write(level_table(counts, chunks));
  table.commit();
  run.out() << cformat(texts::kInfileOutfileLine, infile.c_str(), outfile.c_str());
  if (chunks == 0) no_whole_unit(infile, "chunk of 512 bytes");
  return kExitSuccess;
}

}  // namespace

int run_levelhist(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, levels_run);
}

}  // namespace iq
