// Fuzz target: numeric argument conversion. atoi32/atol32 must equal an independent parser
// (leading white space, a sign, decimal digits, saturation at the 32-bit limits), atoll64 the
// same at 64 bits, and atof_value must read back every finite double it is given as text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "fuzz_check.hpp"
#include "cli/arguments.hpp"
#include "io/text_format.hpp"

namespace {

using iq::fuzz::check;

// What atol does with the text up to its first NUL, saturated at [low, high].
template <typename Int>
Int reference_integer(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulate toward the sign so that the most negative value is reached without overflow.
  constexpr Int low = std::numeric_limits<Int>::min();
  constexpr Int high = std::numeric_limits<Int>::max();
  Int value = 0;
  bool saturated = false;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const Int digit = *p - '0';
    if (saturated) continue;
    if (negative ? value < (low + digit) / 10 : value > (high - digit) / 10) {
      saturated = true;
      value = negative ? low : high;
      continue;
    }
    value = negative ? value * 10 - digit : value * 10 + digit;
  }
  return value;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  check(iq::atol32(text) == reference_integer<std::int32_t>(text), "atol32 differs from the reference");
  check(iq::atoi32(text) == iq::atol32(text), "atoi32 differs from atol32");
  check(iq::atoll64(text) == reference_integer<std::int64_t>(text), "atoll64 differs from the reference");
  const double value = iq::atof_value(text);
  check(value == std::atof(text.c_str()) || (std::isnan(value) && std::isnan(std::atof(text.c_str()))),
        "atof_value differs from atof");

  // The bytes as a double: its shortest exact text must convert back to the same value.
  if (size >= sizeof(double)) {
    double given;
    std::memcpy(&given, data, sizeof given);
    if (std::isfinite(given)) {
      check(iq::atof_value(iq::cformat("%.17g", given)) == given, "atof_value does not round-trip");
    }
  }
  return 0;
}
