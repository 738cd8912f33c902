// SPDX-License-Identifier: MIT
// iqtrim: drops 7000 + align address complex samples from the start of a capture and copies the
// given number of blocks from there, unchanged. Positions past the end of the old file are
// written as 255, as a byte read there reads, so the new file always has the asked size.
#include "iqtrim.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "dsp/capture_format.hpp"
#include "io/capture_reach.hpp"
#include "io/capture_reader.hpp"
#include "io/read_buffer.hpp"
#include "cli/console_texts.hpp"
#include "io/lag_origin.hpp"
#include "io/output_file.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/command.hpp"
#include "cli/tool_main.hpp"

namespace iq {

namespace {

constexpr const char* kIqtrimUsage = "Format: C>iqtrim <Oldfile> <Newfile> <No 8192 IQ blocks> <Align address,0->";

}  // namespace

std::int64_t TransferSchedule::next() {
  if (done_) return 0;
  if (left_ >= kTransferBytes) {
    left_ -= kTransferBytes;
    return kTransferBytes;
  }
  done_ = true;
  return std::max<std::int64_t>(left_, 0);
}

namespace {

constexpr std::int64_t kMaxBlocks = std::numeric_limits<std::int64_t>::max() / kBlockBytes;
constexpr std::string_view kMaxBlocksRange = "at most 562949953421311";
static_assert(kMaxBlocks == 562949953421311);

const Command kCommand{
    .tool = "iqtrim",
    .usage = kIqtrimUsage,
    .summary =
        "Writes a new capture of <No 8192 IQ blocks> blocks of 8192 complex samples cut from an old\n"
        "one, starting at the complex sample <Align address> counted from sample 7000 (the origin of\n"
        "the offsets that lagscan prints). Bytes past the end of the old capture are written as 255.",
    .parameters = {text_parameter("Oldfile"), text_parameter("Newfile"),
                   whole_parameter("No 8192 IQ blocks", INT64_MIN, kMaxBlocks, kMaxBlocksRange),
                   whole_parameter("Align address")},
};

// On a capture that can seek, a cut takes at most one block that lies wholly past the old
// capture's end: any further one would be padding as well.
void check_cut_reach(const Run& run, const CaptureReader& old_capture, std::int64_t first, std::int64_t blocks) {
  if (old_capture.length() < 0) return;
  const std::int64_t most = blocks_within_reach(old_capture.length(), first);
  if (blocks > most) {
    run.refuse(2, cformat("at most %lld: the cut starts at byte %lld of %s, which holds %lld bytes, and takes at "
                          "most one block wholly past its end",
                          static_cast<long long>(most), static_cast<long long>(first), old_capture.path().c_str(),
                          static_cast<long long>(old_capture.length())));
  }
}

int trim_run(Run& run) {
  const std::string& oldfile = run.text(0);
  const std::string& newfile = run.text(1);
  run.convert_numbers();
  // Bytes to drop, in 64 bits: every 32-bit align address gives its exact skip.
  const std::int64_t skip = 2 * (run.whole(3) + kLagOrigin);
  const std::int64_t first = std::max<std::int64_t>(skip, 0);
  const std::int64_t blocks = run.whole(2);
  const std::int64_t bytes = std::max<std::int64_t>(blocks, 0) * kBlockBytes;

  CaptureReader old_capture = open_capture(oldfile, texts::kCantOpenNoBlank);
  check_cut_reach(run, old_capture, first, blocks);
  // iqtrim has no --force: an existing file is replaced only when it is no larger than the
  // cut, so that swapped names (iqtrim a_cut.bin a.bin ...) never lose the longer recording.
  OutputFile cut(newfile, {old_capture.id()}, OutputKind::capture(bytes));
  old_capture.skip(skip);
  old_capture.show_progress(bytes);
  ReadBuffer transfer(static_cast<std::size_t>(TransferSchedule::kTransferBytes));
  for (TransferSchedule schedule(bytes); !schedule.done();) {
    const std::span<std::uint8_t> chunk(transfer.data(), static_cast<std::size_t>(schedule.next()));
    old_capture.read(chunk);
    cut.write(chunk.data(), chunk.size());
  }
  cut.commit();

  // The padding is written because callers rely on the size; say how much of it there was.
  if (old_capture.length() >= 0) {
    const std::int64_t padding = padding_bytes(old_capture.length(), first, bytes);
    if (padding > 0) report_padding(run.err(), run.tool(), newfile, oldfile, padding);
  }
  return kExitSuccess;
}

}  // namespace

int run_iqtrim(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_program(kCommand, args, out, err, trim_run);
}

}  // namespace iq
