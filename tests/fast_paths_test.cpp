// SPDX-License-Identifier: MIT
// The fast paths of the shared code and the tools' formatters and counters, each against its
// plain twin on random inputs: number formatting, dump lines, level counts, video detection's
// power sums, buffered capture reads. (Spectrum sums on several workers: fft_bound_test.cpp.)
#include <unistd.h>

#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>

#include "arith/precision.hpp"
#include "dsp/chunk_workers.hpp"
#include "dsp/video_detection.hpp"
#include "dsp/vector_target.hpp"
#include "dsp/capture_format.hpp"
#include "io/capture_reader.hpp"
#include "io/read_buffer.hpp"
#include "io/fixed_format.hpp"
#include "io/text_format.hpp"
#include "iqdump.hpp"
#include "levelhist.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

TEST(FastPaths, NumberFormattingEqualsPrintf) {
  // Exact ties (multiples of 1/256 and 1/512), values next to ties, random bit patterns.
  const auto make = [](std::mt19937_64& rng, int trial) {
    std::vector<double> values{0.0,         -0.0, 1.97943718, 0.5e-8,   4.9e-324,
                               1.999999995, 1e29, 1e31,       INFINITY, -std::nan("")};
    for (int k = -600; k <= 600; ++k) values.push_back(k / 256.0);
    for (int k = 0; trial > 0 && k < 1000; ++k) {
      const double near_tie = (static_cast<double>(rng() % 200000000) + 0.5) / 1e8;
      values.insert(values.end(), {std::uniform_real_distribution<double>(0.0, 2.0)(rng),
                                   static_cast<double>(rng() % (1u << 20)) / 512.0, std::nextafter(near_tie, 0.0),
                                   std::nextafter(near_tie, 3.0), std::bit_cast<double>(rng())});
    }
    return values;
  };
  const auto format = [](auto append) {
    return [append](const std::vector<double>& values) {
      std::string text;
      for (const double v : values) {
        for (const int decimals : {8, 7, 6, 3, 0}) append(text, v, decimals);
      }
      return text;
    };
  };
  test::expect_twins("fixed", 30, make, format(append_fixed),
                     format([](std::string& t, double v, int decimals) { t += cformat("%.*f", decimals, v); }));
  for (const std::int64_t n : {std::int64_t{0}, std::int64_t{-10}, std::numeric_limits<std::int64_t>::min()}) {
    std::string fast;
    append_integer(fast, n);
    EXPECT_EQ(fast, cformat("%lld", static_cast<long long>(n)));
  }
}

TEST(FastPaths, SinglePrecisionFormattingEqualsPrintf) {
  // Exact ties at 7 and 3 decimals (odd multiples of 2^-8 and 2^-4), their neighbours, signed
  // zeros and values rounding to zero from below, the edge of the whole-number range at 12
  // decimals and beyond it, and random bit patterns (infinities and not-a-number among them).
  const auto make = [](std::mt19937_64& rng, int trial) {
    std::vector<float> values{0.0f, -0.0f, -1e-9f, 9007.199f, 9008.0f, 3e38f, -INFINITY, std::nanf("")};
    for (int k = -600; k <= 600; ++k) {
      const float tie = static_cast<float>(k) / 256.0f;
      values.insert(values.end(),
                    {tie, std::nextafter(tie, 0.0f), std::nextafter(tie, 3.0f), static_cast<float>(k) / 16.0f});
    }
    for (int k = 0; trial > 0 && k < 2000; ++k) {
      values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(rng())));
      values.push_back(std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng));
    }
    return values;
  };
  const auto format = [](auto append) {
    return [append](const std::vector<float>& values) {
      std::string text;
      for (const float v : values) {
        for (const int decimals : {7, 12, 3, 0}) {
          append(text, v, decimals);
          text += ' ';
        }
      }
      return text;
    };
  };
  test::expect_twins("single precision", 20, make, format(append_fixed_float),
                     format([](std::string& t, float v, int decimals) { t += cformat("%.*f", decimals, v); }));
}

TEST(FastPaths, DumpLinesEqualPrintf) {
  // Every byte pair, numbered from 0, around the 64-bit limit and from negative numbers.
  std::vector<std::uint8_t> pairs;
  for (int k = 0; k < 65536; ++k)
    pairs.insert(pairs.end(), {static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)});
  const std::int64_t firsts[] = {0, 9990, -70000, 99999999999990000,
                                 std::numeric_limits<std::int64_t>::max() - 65535};
  DumpFormatter formatter;
  test::expect_twins(
      "dump", 5, [&](std::mt19937_64&, int trial) { return firsts[trial]; },
      [&](std::int64_t first) { return std::string(formatter.lines(pairs, first)); },
      [&](std::int64_t first) {
        const auto value = [](std::uint8_t b) {
          const float in_float = b;
          return static_cast<double>(
              static_cast<float>((static_cast<extended>(in_float) - widen(127.5)) / widen(128.0)));
        };
        std::string text;
        for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
          text += cformat("%lld\t%1.4f\t%1.4f\n", static_cast<long long>(first + static_cast<std::int64_t>(i / 2)),
                          value(pairs[i]), value(pairs[i + 1]));
        }
        return text;
      });
}

TEST(FastPaths, LevelCountsEqualAByteLoop) {
  // Pieces of awkward lengths (word loads and tails), long runs of one level, and the lanes
  // flushed into the totals every 1000 bytes as well as at the usual interval.
  test::expect_twins(
      "levels", 6,
      [](std::mt19937_64& rng, int trial) {
        auto bytes = test::random_bytes(100003, static_cast<std::uint32_t>(rng()));
        if (trial % 3 == 2) std::fill(bytes.begin() + 1000, bytes.begin() + 60000, 0x81);
        return bytes;
      },
      [trial = 0](const std::vector<std::uint8_t>& bytes) mutable {
        LevelCounter counter(trial++ % 2 == 0 ? 1000 : LevelCounter::kDefaultFlushBytes);
        for (std::size_t begin = 0, size = 1; begin < bytes.size(); begin += size, size = size * 3 + 1) {
          counter.add(std::span(bytes).subspan(begin, std::min(bytes.size(), begin + size) - begin));
        }
        return counter.totals();
      },
      [](const std::vector<std::uint8_t>& bytes) {
        LevelCounts counts{};
        for (const std::uint8_t b : bytes) ++counts[b];
        return counts;
      });
  // Counts are rounded to single precision before the division: 2^24 + 1 to 2^24, 16777219 to
  // 16777220 (5592406.667 over 3, not 5592406.333).
  LevelCounts counts{16777217, 16777219, 2};
  EXPECT_EQ(level_table(counts, 3).substr(0, 68),
            "-128    5592405.333\n-127    5592406.667\n-126    0.667\n-125    0.000\n");
}

// Video detection's power sums, formed exactly in integers where no addition can round, on
// every vector target: short and long quiet runs, loud runs and quiet runs that end loud (crossing the exact
// range), from sums at 0, at a few odd units of 2^-16, at an odd number just below 2^24 units,
// and at no whole number of them.
TEST(FastPaths, PowerSumsEqualAdditionsOneByOne) {
  using Run = std::pair<float, std::vector<std::uint8_t>>;  // the start and the samples' bytes
  const float starts[] = {0.0f, 3 * 0x1p-16f, 255.0f + 0x1p-16f, 0.1f};
  test::for_each_vector_target([&](const std::string& target) {
    test::expect_twins(
        "power sums on " + target, 24,
        [&](std::mt19937_64& rng, int trial) {
          auto bytes = test::random_bytes(2 * (1 + rng() % (trial % 4 == 0 ? 200 : 20000)),
                                          static_cast<std::uint32_t>(rng()));
          for (std::size_t k = 0; k < bytes.size() && trial % 3 != 1; ++k) {
            bytes[k] = trial % 3 == 2 && k > bytes.size() * 9 / 10 ? bytes[k] % 2 * 255 : 120 + bytes[k] % 16;
          }
          return Run{starts[trial / 3 % 4], bytes};
        },
        [](const Run& run) {
          return add_sample_powers(run.first, run.second.data(), static_cast<std::int64_t>(run.second.size() / 2));
        },
        [](const Run& run) {
          float sum = run.first;
          for (std::size_t k = 0; k < run.second.size(); k += 2)
            sum += kComponentPower[run.second[k]] + kComponentPower[run.second[k + 1]];
          return sum;
        });
  });
}

// A capture read from a pipe that a writer thread fills `piece` bytes at a time.
struct PipedCapture {
  PipedCapture(const std::vector<std::uint8_t>& bytes, std::size_t piece, std::size_t buffer) {
    int ends[2];
    if (::pipe(ends) != 0) return;
    writer = std::thread([&bytes, piece, fd = ends[1]] {
      for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (::write(fd, bytes.data() + at, std::min(piece, bytes.size() - at)) <= 0) break;
      }
      ::close(fd);
    });
    reader = CaptureReader::open("/dev/fd/" + std::to_string(ends[0]), buffer);
    ::close(ends[0]);
  }
  ~PipedCapture() {
    reader.reset();  // a writer still writing sees the pipe closed
    if (writer.joinable()) writer.join();
  }
  std::thread writer;
  std::optional<CaptureReader> reader;
};

TEST(FastPaths, BufferedReadsEqualTheFileByteByByte) {
  // Spans of growing size, single bytes and skips, across every buffer boundary; 255 past the
  // end; a seek back.
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(10007, 42);
  test::write_bytes(dir.path("cap.bin"), bytes);
  const auto reads = [&](auto read, auto skip) {
    std::vector<std::uint8_t> got;
    for (std::size_t chunk = 1; got.size() < bytes.size() + 20; chunk = chunk * 3 % 1031 + 1) {
      read(got, chunk);
      if (chunk % 5 == 0) skip(chunk);
    }
    return got;
  };
  const std::size_t buffers[] = {1, 2, 7, 4096, 65536};
  test::expect_twins(
      "reads", 5, [&](std::mt19937_64&, int trial) { return buffers[trial]; },
      [&](std::size_t buffer) {
        auto reader = CaptureReader::open(dir.path("cap.bin"), buffer);
        auto got = reads(
            [&](std::vector<std::uint8_t>& out, std::size_t chunk) {
              out.resize(out.size() + chunk);
              reader->read(std::span(out).last(chunk));
              out.push_back(reader->next_byte());
            },
            [&](std::size_t chunk) { reader->skip(static_cast<std::int64_t>(chunk)); });
        reader->seek(4999);
        return got.push_back(reader->next_byte()), got;
      },
      [&](std::size_t) {
        std::size_t at = 0;
        auto got = reads(
            [&](std::vector<std::uint8_t>& out, std::size_t chunk) {
              for (std::size_t k = 0; k <= chunk; ++k, ++at) out.push_back(at < bytes.size() ? bytes[at] : 255);
            },
            [&](std::size_t chunk) { at += chunk; });
        return got.push_back(bytes[4999]), got;
      });
  EXPECT_EQ(normalise_cu8(0x7F), -0.00390625);
  EXPECT_EQ(normalise_cu8(0x80), +0.00390625);
}

// Long requests into cache-line aligned room are read past the buffer: mixed with buffered
// reads and single bytes, from files with several buffer sizes and from a pipe that delivers
// odd pieces, they give the file's bytes in order and 255 past its end.
TEST(FastPaths, DirectReadsEqualTheFileByteByByte) {
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(300007, 7);
  test::write_bytes(dir.path("cap.bin"), bytes);
  // (where the room starts in an aligned buffer, its length); one byte is read after each.
  const std::pair<std::size_t, std::size_t> requests[] = {{0, 5000}, {0, 70000}, {64, 4096},    {16, 9000},
                                                          {0, 4095}, {0, 4096},  {128, 100000}, {0, 150000}};
  std::size_t asked = 0;
  for (const auto& request : requests) asked += request.second + 1;
  std::vector<std::uint8_t> expected(bytes);
  expected.resize(asked, 255);  // the requests reach past the end
  const auto run = [&](CaptureReader& reader) {
    std::vector<std::uint8_t> got;
    ReadBuffer room(200000);
    for (const auto& [offset, length] : requests) {
      const auto span = std::span(room).subspan(offset, length);
      reader.read(span);
      got.insert(got.end(), span.begin(), span.end());
      got.push_back(reader.next_byte());
    }
    return got;
  };
  for (const std::size_t buffer : {std::size_t{64}, std::size_t{4096}, CaptureReader::kDefaultBufferBytes}) {
    auto file = CaptureReader::open(dir.path("cap.bin"), buffer);
    EXPECT_EQ(run(*file), expected) << "buffer " << buffer;
  }
  PipedCapture piped(bytes, 4999, CaptureReader::kDefaultBufferBytes);
  auto& pipe = piped.reader;
  ASSERT_TRUE(pipe.has_value());
  EXPECT_EQ(run(*pipe), expected);
}

// Counted in parts on 1 to 3 threads, from a read position inside the buffer, the level counts
// equal a count byte by byte, 255 past the end; the read position moves on by the count.
TEST(FastPaths, LevelCountsInPartsEqualTheCountByteByByte) {
  test::ScratchDir dir;
  const auto bytes = test::random_bytes(100003, 11);
  test::write_bytes(dir.path("cap.bin"), bytes);
  for (const std::int64_t count : {std::int64_t{0}, std::int64_t{99990}, std::int64_t{100100}}) {
    LevelCounts expected{};
    for (std::int64_t k = 3; k < 3 + count; ++k) ++expected[k < 100003 ? bytes[static_cast<std::size_t>(k)] : 255];
    for (const unsigned threads : {1u, 2u, 3u}) {
      for (const std::int64_t part : {std::int64_t{61}, std::int64_t{4097}, std::int64_t{1} << 22}) {
        set_worker_thread_count(threads);
        auto capture = CaptureReader::open(dir.path("cap.bin"), 64);
        for (int k = 0; k < 3; ++k) capture->next_byte();
        EXPECT_EQ(count_levels(*capture, count, part), expected) << count << " " << threads << " " << part;
        EXPECT_EQ(capture->next_byte(), 3 + count < 100003 ? bytes[static_cast<std::size_t>(3 + count)] : 255);
      }
    }
  }
  set_worker_thread_count(0);
}

}  // namespace
}  // namespace iq
