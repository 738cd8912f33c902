// The arguments of a program's run, and the refusal of a parameter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace iq {

// The arguments after the program name.
using ToolArgs = std::vector<std::string>;

constexpr bool is_power_of_two(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// The failure that refuses a parameter: "<parameter> must be <valid range> (got '<text>')".
[[noreturn]] void refuse_parameter(std::string_view parameter, std::string_view valid_range, std::string_view given);

}  // namespace iq
