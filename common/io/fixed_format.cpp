// SPDX-License-Identifier: MIT
// Fast printf-equal number formatting.
#include "io/fixed_format.hpp"

#include <charconv>
#include <cmath>

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

}  // namespace iq
