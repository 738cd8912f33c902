// SPDX-License-Identifier: MIT
// How far a run of whole blocks may reach past the end of a capture, and the note on the padding
// that such a run holds: past the end every byte reads as 255, so a block there is no data.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace iq {

// The most blocks of 16384 bytes a run starting at byte `first` (0 or more) may take from a
// capture of `length` bytes: every block that starts before the end (the last one may be
// padded), and one more that lies wholly past it, as a run of a capture's last block has.
std::int64_t blocks_within_reach(std::int64_t length, std::int64_t first);

// The bytes of a run of `bytes` from byte `first` (0 or more) that lie past the end of a
// capture of `length` bytes.
std::int64_t padding_bytes(std::int64_t length, std::int64_t first, std::int64_t bytes);

// Says on `err` that the last `padding` bytes (more than 0) of `output` lie past the end of
// `input`: "<tool>: <output> runs past the end of <input>: its last <n> samples are padding
// (<padding> bytes of value 255)".
void report_padding(std::ostream& err, std::string_view tool, const std::string& output, const std::string& input,
                    std::int64_t padding);

}  // namespace iq
