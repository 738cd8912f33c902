// SPDX-License-Identifier: MIT
// printf-style formatting into std::string, so tools can print exact C formats to any stream.
#pragma once

#include <string>

namespace iq {

// Formats like snprintf, with no length limit.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `value` as printf's "%.3f" does (rounded to nearest, ties to even, the sign of a
// negative zero kept) at `first`, and returns the end. Needs room for 320 characters. Values
// below 2^53 / 1000 in size are done in integer arithmetic, the rest by std::to_chars: both
// exact, many times faster than printf for the tables that print one value a line.
char* format_fixed3(char* first, double value);

// Writes `value` as printf's "%.17g" does: every digit a double carries, so that the text reads
// back as the same double. Needs room for 32 characters.
char* format_all_digits(char* first, double value);

// The same as a string.
std::string all_digits_text(double value);

}  // namespace iq
