// SPDX-License-Identifier: MIT
// Fast appending of numbers to text, giving exactly what printf gives, for tables of millions
// of lines.
#pragma once

#include <cstdint>
#include <string>

namespace iq {

// Appends `value` as printf "%lld" prints it.
void append_integer(std::string& text, std::int64_t value);

// Appends `value` as printf "%.<decimals>f" prints it (decimals from 0 to 17): the exact binary
// value rounded to nearest, ties to even.
void append_fixed(std::string& text, double value, int decimals);

// append_fixed of a single-precision value (decimals from 0 to 12), faster: the value times
// 10^decimals is exact in double precision (24 bits times 5^12, below 2^28), so rounding it to
// a whole number, ties to even, gives printf's digits.
void append_fixed_float(std::string& text, float value, int decimals);

}  // namespace iq
