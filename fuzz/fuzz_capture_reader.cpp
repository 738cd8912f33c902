// SPDX-License-Identifier: MIT
// Fuzz target: the buffered capture reader against byte-by-byte reading. A capture of random
// length is read through a random buffer size with a random sequence of single bytes, block
// reads, skips and seeks; every byte must be the file's byte at that position, or 255 past the
// end. The capture is a memory file (seekable) or a pipe (not seekable: skips read through).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "io/capture_reader.hpp"

namespace {

using iq::fuzz::check;

void write_all(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    check(n > 0, "cannot write the capture");
    done += static_cast<std::size_t>(n);
  }
}

// The model: a position in the file and the byte-by-byte rule.
struct Model {
  const std::vector<std::uint8_t>& file;
  std::int64_t position = 0;
  std::uint8_t next() {
    const std::uint8_t byte = position < static_cast<std::int64_t>(file.size()) ? file[position] : 255;
    ++position;
    return byte;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool pipe_input = input.ConsumeBool();
  const std::size_t buffer_bytes = input.ConsumeIntegralInRange<std::size_t>(0, 70);
  // Pipes hold 64 KiB without a reader; memory files take any length.
  const std::size_t length = input.ConsumeIntegralInRange<std::size_t>(0, pipe_input ? 4000 : 70000);
  const auto seed = input.ConsumeIntegral<std::uint32_t>();
  std::vector<std::uint8_t> file(length);
  std::uint32_t state = seed | 1;
  for (auto& byte : file) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state % 7 == 0 ? 255 : state >> 24);  // 255 also inside
  }

  int fds[2] = {-1, -1};
  if (pipe_input) {
    check(::pipe(fds) == 0, "no pipe");
  } else {
    fds[0] = fds[1] = ::memfd_create("capture", MFD_CLOEXEC);
    check(fds[0] >= 0, "no memory file");
  }
  write_all(fds[1], file);
  auto reader = iq::CaptureReader::open("/proc/self/fd/" + std::to_string(fds[0]), buffer_bytes);
  if (pipe_input) ::close(fds[1]);  // the reader then meets the end of the data
  check(reader.has_value(), "the capture does not open");
  check(reader->length() == (pipe_input ? -1 : static_cast<std::int64_t>(length)), "wrong length");

  Model model{file};
  std::vector<std::uint8_t> block;
  for (int step = 0; step < 64 && input.remaining_bytes() > 0; ++step) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        check(reader->next_byte() == model.next(), "next_byte differs");
        break;
      case 1: {
        block.assign(input.ConsumeIntegralInRange<std::size_t>(0, 3 * buffer_bytes + 200), 0);
        reader->read(block);
        for (const std::uint8_t byte : block) check(byte == model.next(), "read differs");
        break;
      }
      case 2: {
        const auto count = input.ConsumeIntegralInRange<std::int64_t>(-100, 80000);
        reader->skip(count);
        if (count > 0) model.position += count;
        break;
      }
      default:
        if (!pipe_input) {
          const auto offset = input.ConsumeIntegralInRange<std::int64_t>(0, 80000);
          reader->seek(offset);
          model.position = offset;
        }
        break;
    }
  }
  ::close(fds[0]);
  return 0;
}
