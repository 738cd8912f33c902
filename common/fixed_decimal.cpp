// Exact fixed-point formatting by integer arithmetic.
#include "fixed_decimal.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "text_format.hpp"

namespace iq {

void append_fixed(std::string& out, double value, int decimals) {
  // Beyond 2^32 (and for infinities and NaN) printf itself does the work.
  if (!(std::fabs(value) < 0x1p32) || decimals < 0 || decimals > 9) {
    out += cformat("%.*f", decimals, value);
    return;
  }
  std::uint64_t power = 1;
  for (int d = 0; d < decimals; ++d) power *= 10;

  // |value| = significand * 2^-shift with a 53-bit integer significand; below 2^32 the shift
  // is at least 21. The scaled value significand * 10^decimals * 2^-shift is rounded to an
  // integer, ties to even.
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value), &exponent);
  const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  const int shift = 53 - exponent;
  const unsigned __int128 scaled = static_cast<unsigned __int128>(significand) * power;  // < 2^83
  std::uint64_t rounded = 0;
  if (shift < 128) {  // else below 2^-75 * 10^9, which rounds to 0
    const unsigned __int128 whole = scaled >> shift;
    const unsigned __int128 rest = scaled - (whole << shift);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    rounded = static_cast<std::uint64_t>(whole);
    if (rest > half || (rest == half && (rounded & 1) != 0)) ++rounded;
  }

  if (std::signbit(value)) out += '-';
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, rounded / power).ptr;
  out.append(digits, end);
  if (decimals == 0) return;
  out += '.';
  end = std::to_chars(digits, digits + sizeof digits, rounded % power).ptr;
  out.append(static_cast<std::size_t>(decimals - (end - digits)), '0');
  out.append(digits, end);
}

}  // namespace iq
