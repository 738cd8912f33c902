// SPDX-License-Identifier: MIT
// printf-style formatting into std::string.
#include "io/text_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace iq {

std::string cformat(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (length < 0) {
    va_end(again);
    return text;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    text.assign(small, static_cast<std::size_t>(length));
  } else {
    text.resize(static_cast<std::size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, again);
  }
  va_end(again);
  return text;
}

char* format_fixed3(char* first, double value) {
  constexpr double kIntegerLimit = 9007199254740992.0 / 1000.0;  // 2^53 / 1000
  if (!(std::fabs(value) < kIntegerLimit)) {
    return std::to_chars(first, first + 320, value, std::chars_format::fixed, 3).ptr;
  }
  // |value| = m / 2^shift with a 53-bit integer m (its top bit set, so below the limit the
  // shift is at least 10) and 1000 m < 2^63: the thousandths are 1000 m shifted right, with
  // the bits shifted out deciding the rounding.
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value), &exponent);
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const int shift = 53 - exponent;
  const std::uint64_t scaled = mantissa * 1000;
  std::uint64_t thousandths = 0;
  if (shift < 64) {
    thousandths = scaled >> shift;
    const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (thousandths & 1) != 0)) ++thousandths;
  }  // else: below 2^63 * 2^-64 = 0.5 thousandths, which rounds to 0
  if (std::signbit(value)) *first++ = '-';
  first = std::to_chars(first, first + 24, thousandths / 1000).ptr;
  const auto digits = static_cast<unsigned>(thousandths % 1000);
  *first++ = '.';
  *first++ = static_cast<char>('0' + digits / 100);
  *first++ = static_cast<char>('0' + digits / 10 % 10);
  *first++ = static_cast<char>('0' + digits % 10);
  return first;
}

char* format_all_digits(char* first, double value) {
  return std::to_chars(first, first + 32, value, std::chars_format::general, 17).ptr;
}

std::string all_digits_text(double value) {
  char text[32];
  return std::string(text, format_all_digits(text, value));
}

}  // namespace iq
