// iqtrim: drops 7000 + align address complex samples from the start of a capture and copies the
// given number of blocks from there, unchanged. Positions past the end of the old file are
// written as 255, as a byte read there reads, so the new file always has the asked size.
#include "iqtrim.hpp"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "dsp/capture_format.hpp"
#include "io/capture_reader.hpp"
#include "cli/console_texts.hpp"
#include "io/lag_origin.hpp"
#include "io/output_file.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"
#include "cli/tool_main.hpp"

namespace iq {

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

}  // namespace

int run_iqtrim(const ToolArgs& args, std::ostream& out, std::ostream& err) {
  return run_guarded("iqtrim", out, err, [&] {
    if (!has_argument_count("iqtrim", args, 4, kIqtrimUsage, out, err)) return kExitFailure;
    const std::string& oldfile = args[0];
    const std::string& newfile = args[1];
    // Bytes to drop, in 64 bits: every 32-bit align address gives its exact skip.
    const std::int64_t skip =
        2 * (static_cast<std::int64_t>(whole_argument32("Align address", args[3])) + kLagOrigin);
    const std::int64_t blocks = whole_argument64("No 8192 IQ blocks", args[2]);
    if (blocks > kMaxBlocks) {
      refuse_parameter(err, "iqtrim", "No 8192 IQ blocks", "at most " + std::to_string(kMaxBlocks), args[2]);
      return kExitFailure;
    }
    const std::int64_t bytes = std::max<std::int64_t>(blocks, 0) * kBlockBytes;

    auto old_capture = open_capture("iqtrim", oldfile, texts::kCantOpenNoBlank, out, err);
    if (!old_capture) return kExitFailure;
    OutputFile cut(newfile, {old_capture->id()});
    old_capture->skip(skip);
    old_capture->show_progress(bytes);
    std::vector<std::uint8_t> transfer(static_cast<std::size_t>(TransferSchedule::kTransferBytes));
    for (TransferSchedule schedule(bytes); !schedule.done();) {
      const std::span<std::uint8_t> chunk(transfer.data(), static_cast<std::size_t>(schedule.next()));
      old_capture->read(chunk);
      cut.write(chunk.data(), chunk.size());
    }
    cut.commit();

    // The padding is written because callers rely on the size; say how much of it there was.
    if (old_capture->length() >= 0) {
      const std::int64_t available = std::max<std::int64_t>(old_capture->length() - std::max<std::int64_t>(skip, 0), 0);
      const std::int64_t padding = bytes - std::min(bytes, available);
      if (padding > 0) {
        err << cformat("iqtrim: %s runs past the end of %s: its last %lld bytes are padding of value 255\n",
                       newfile.c_str(), oldfile.c_str(), static_cast<long long>(padding));
      }
    }
    return kExitSuccess;
  });
}

}  // namespace iq
