// SPDX-License-Identifier: MIT
// The reach of a run of blocks past the end of a capture.
#include "io/capture_reach.hpp"

#include <algorithm>

#include "dsp/capture_format.hpp"
#include "io/text_format.hpp"

namespace iq {

std::int64_t blocks_within_reach(std::int64_t length, std::int64_t first) {
  const std::int64_t before_end = std::max<std::int64_t>(length - first, 0);
  return (before_end + kBlockBytes - 1) / kBlockBytes + 1;
}

std::int64_t padding_bytes(std::int64_t length, std::int64_t first, std::int64_t bytes) {
  const std::int64_t available = std::max<std::int64_t>(length - first, 0);
  return std::max<std::int64_t>(bytes - available, 0);
}

void report_padding(std::ostream& err, std::string_view tool, const std::string& output, const std::string& input,
                    std::int64_t padding) {
  // An odd count leaves the last sample with a real I byte and a padded Q byte.
  err << cformat("%.*s: %s runs past the end of %s: its last %lld samples are padding (%lld bytes of value 255)\n",
                 static_cast<int>(tool.size()), tool.data(), output.c_str(), input.c_str(),
                 static_cast<long long>((padding + 1) / 2), static_cast<long long>(padding));
}

}  // namespace iq
