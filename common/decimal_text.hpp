// Decimal text of 64-bit integers, the same characters printf gives for "%lld", written
// straight into a caller's buffer: for tables of millions of numbered lines, where a printf
// call per number would be the cost of the whole run.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace iq {

// The longest text: "-9223372036854775808".
inline constexpr std::size_t kMaxDecimalChars = 20;

namespace decimal_detail {

// "00" "01" ... "99": two digits per division by 100.
inline constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

inline constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
  std::array<std::uint64_t, 20> powers{};
  std::uint64_t power = 1;
  for (auto& p : powers) {
    p = power;
    power *= 10;
  }
  return powers;
}();

// Number of decimal digits of v >= 10: log10 estimated from the bit width (1233 / 4096 is just
// above log10(2)), corrected by one comparison.
inline int digit_count(std::uint64_t v) {
  const int estimate = (static_cast<int>(std::bit_width(v)) * 1233) >> 12;
  return estimate + (v >= kPowersOfTen[static_cast<std::size_t>(estimate)] ? 1 : 0);
}

}  // namespace decimal_detail

// Writes the decimal digits of `value` at `out` (room for kMaxDecimalChars characters, no
// terminating zero) and returns the end of the text.
inline char* write_decimal(std::uint64_t value, char* out) {
  using namespace decimal_detail;
  if (value < 10) {
    *out = static_cast<char>('0' + value);
    return out + 1;
  }
  char* const end = out + digit_count(value);
  char* p = end;
  while (value >= 100) {
    const std::size_t pair = 2 * static_cast<std::size_t>(value % 100);
    value /= 100;
    p -= 2;
    std::memcpy(p, &kDigitPairs[pair], 2);
  }
  if (value >= 10) {
    std::memcpy(p - 2, &kDigitPairs[2 * static_cast<std::size_t>(value)], 2);
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return end;
}

inline char* write_decimal(std::int64_t value, char* out) {
  auto magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;  // modular negation: also right for the most negative value
  }
  return write_decimal(magnitude, out);
}

}  // namespace iq
