// SPDX-License-Identifier: MIT
// Fast printf-equal number formatting.
#include "io/fixed_format.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "io/text_format.hpp"

namespace iq {

void append_integer(std::string& text, std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, result.ptr);
}

void append_fixed(std::string& text, double value, int decimals) {
  // to_chars with a precision is defined to give printf's digits; the spelling of infinities
  // and not-a-number is left to printf itself.
  char digits[64];
  if (std::isfinite(value) && std::fabs(value) < 1e30) {
    const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    if (result.ec == std::errc()) {
      text.append(digits, result.ptr);
      return;
    }
  }
  text += cformat("%.*f", decimals, value);
}

void append_fixed_float(std::string& text, float value, int decimals) {
  static constexpr std::array<std::uint64_t, 13> kPowers = [] {
    std::array<std::uint64_t, 13> powers{1};
    for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = powers[k - 1] * 10;
    return powers;
  }();
  const std::uint64_t power = kPowers[static_cast<std::size_t>(decimals)];
  const double scaled = std::fabs(static_cast<double>(value) * static_cast<double>(power));
  if (!(scaled < 0x1p53)) {  // too large for whole numbers in double precision, or not a number
    append_fixed(text, value, decimals);
    return;
  }
  // nearbyint rounds ties to even in the default rounding mode, as printf does.
  const auto units = static_cast<std::uint64_t>(std::nearbyint(scaled));
  if (std::signbit(value)) text += '-';  // printf signs -0.0 and what rounds to zero from below
  append_integer(text, static_cast<std::int64_t>(units / power));
  if (decimals == 0) return;
  char fraction[12];
  std::uint64_t rest = units % power;
  for (int k = decimals - 1; k >= 0; --k, rest /= 10) fraction[k] = static_cast<char>('0' + rest % 10);
  text += '.';
  text.append(fraction, static_cast<std::size_t>(decimals));
}

}  // namespace iq
