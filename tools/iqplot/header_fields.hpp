// SPDX-License-Identifier: MIT
// The "key=value" fields of the header lines that iqwaterfall and cyclesearch start their tables with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iq {

// The blank-separated fields of a line.
std::vector<std::string> fields_of(const std::string& line);

// A field's text read as a whole number, or as a finite number; false when it is not one.
bool whole_field(const std::string& text, std::int64_t& value);
bool number_field(const std::string& text, double& value);

}  // namespace iq
