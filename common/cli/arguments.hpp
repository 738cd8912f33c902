// Conversion of numeric command-line arguments, and the refusal of out-of-range parameters.
//
// The tools take positional arguments without validation: text that is not a number gives 0,
// and parsing stops at the first character that does not belong to the number, exactly as the
// C library's atoi, atol, atoll and atof do. Values outside the receiving type saturate at its
// limits (as strtol does) instead of wrapping.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "arith/whole_numbers.hpp"

namespace iq {

// The arguments after the program name.
using ToolArgs = std::vector<std::string>;

std::int32_t atoi32(const std::string& text);  // atoi into a 32-bit int
std::int32_t atol32(const std::string& text);  // atol into a 32-bit long
std::int64_t atoll64(const std::string& text); // atoll
double atof_value(const std::string& text);    // atof

// The same conversions for a tool's numeric argument, with one check: the text must be wholly
// a number (leading blanks and a sign allowed), since a conversion that stops early would run
// the tool on a value the user did not write ("1e3" read as 1, "2,4" as 2). Text with
// characters left over, or with no number at all, is a ToolError naming the parameter and what
// the conversion would have read:
// "<parameter> '<text>' is not a number (it would be read as <value>)".
std::int32_t whole_argument32(std::string_view parameter, const std::string& text);  // atol32
std::int64_t whole_argument64(std::string_view parameter, const std::string& text);  // atoll64
double number_argument(std::string_view parameter, const std::string& text);         // atof_value

// Prints the one line that refuses a parameter:
// "<tool>: <parameter> must be <valid range> (got '<text>')".
void refuse_parameter(std::ostream& err, std::string_view tool, std::string_view parameter,
                      std::string_view valid_range, std::string_view given);

}  // namespace iq
