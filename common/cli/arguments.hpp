// SPDX-License-Identifier: MIT
// The arguments of a program's run, and the refusal of a parameter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "arith/whole_numbers.hpp"

namespace iq {

// The arguments after the program name.
using ToolArgs = std::vector<std::string>;

// The failure that refuses a parameter: "<parameter> must be <valid range> (got '<text>')".
[[noreturn]] void refuse_parameter(std::string_view parameter, std::string_view valid_range,
                                   std::string_view given);

}  // namespace iq
