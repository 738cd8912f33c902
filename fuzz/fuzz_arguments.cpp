// SPDX-License-Identifier: MIT
// Fuzz target: numeric arguments as a declared command parses them. A whole parameter accepts
// exactly the texts an independent parser reads whole (leading white space, a sign, decimal
// digits) with a value in the declared range, and gives that value; a number parameter accepts
// exactly what strtod reads whole, and reads back every finite double printed exactly.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

#include "cli/command.hpp"
#include "fuzz_check.hpp"
#include "io/text_format.hpp"

namespace {

using iq::fuzz::check;

// The value of a text that is wholly a decimal integer within 64 bits, else nothing.
std::optional<std::int64_t> reference_whole(const std::string& text) {
  const char* p = text.c_str();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return std::nullopt;
  constexpr std::int64_t low = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t high = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const std::int64_t digit = *p - '0';
    if (negative ? value < (low + digit) / 10 : value > (high - digit) / 10) return std::nullopt;
    value = negative ? value * 10 - digit : value * 10 + digit;
  }
  if (*p != '\0') return std::nullopt;
  return value;
}

const iq::Command kCommand{
    .tool = "fuzz",
    .usage = "fuzz <whole> <number>",
    .parameters = {{.name = "whole", .kind = iq::ParameterKind::whole, .least = -1000000, .most = 1000000},
                   {.name = "number", .kind = iq::ParameterKind::number}},
};

// Runs the command on the two texts: the whole value and the number, or nothing when refused.
std::optional<std::pair<std::int64_t, double>> parse(const std::string& whole, const std::string& number) {
  std::ostringstream out;
  std::ostringstream err;
  std::pair<std::int64_t, double> got;
  const int status = iq::run_program(kCommand, {whole, number}, out, err, [&](iq::Run& run) {
    got = {run.whole(0), run.number(1)};
    return 0;
  });
  check(status == 0 || err.str().rfind("fuzz: ", 0) == 0, "a refusal without its line");
  return status == 0 ? std::optional(got) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A command-line argument ends at its first NUL.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string text = bytes.substr(0, bytes.find('\0'));
  if (text == "-h" || text == "--help" || text == "--version") return 0;

  const auto whole = reference_whole(text);
  const bool whole_fits = whole && *whole >= -1000000 && *whole <= 1000000;
  const auto as_whole = parse(text, "1");
  check(as_whole.has_value() == whole_fits, "a whole number accepted or refused unlike the reference");
  if (as_whole) check(as_whole->first == *whole, "a whole number read as another value");

  char* end = nullptr;
  const double expected = std::strtod(text.c_str(), &end);
  const bool is_number = end != text.c_str() && *end == '\0';
  const auto as_number = parse("1", text);
  check(as_number.has_value() == is_number, "a number accepted or refused unlike strtod");
  if (as_number && !std::isnan(expected)) check(as_number->second == expected, "a number read as another value");

  // The bytes as a double: its exact text must convert back to the same value.
  if (size >= sizeof(double)) {
    double given;
    std::memcpy(&given, data, sizeof given);
    if (std::isfinite(given)) {
      const auto back = parse("1", iq::cformat("%.17g", given));
      check(back && back->second == given, "a number does not round-trip");
    }
  }
  return 0;
}
