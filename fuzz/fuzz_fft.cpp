// SPDX-License-Identifier: MIT
// Fuzz target: the FFT. Any point count and sign either builds a plan or is refused with
// std::invalid_argument; a plan transforms random frames without fault, and a forward
// transform followed by the inverse returns the frame to within rounding.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "fuzz_check.hpp"
#include "dsp/fft.hpp"

namespace {

using iq::fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Mostly powers of two up to 2^13; now and then any count or sign, which must be refused.
  const int kind = input.ConsumeIntegralInRange<int>(0, 15);
  std::int32_t n = std::int32_t{1} << input.ConsumeIntegralInRange<int>(0, 13);
  int sign = input.ConsumeBool() ? -1 : 1;
  if (kind == 0) n = input.ConsumeIntegral<std::int32_t>();
  if (kind == 1) sign = input.ConsumeIntegral<int>();
  const bool valid = n > 0 && (n & (n - 1)) == 0 && n <= (1 << 30) && (sign == 1 || sign == -1);
  if (!valid) {
    try {
      const iq::FftPlan plan(n, sign);
      check(false, "an invalid point count or sign was accepted");
    } catch (const std::invalid_argument&) {
    }
    return 0;
  }
  // A valid count above 2^13 would cost gigabytes of tables near 2^30: not built here.
  if (n > (1 << 13)) return 0;

  // Values of a capture's range, or anything finite up to 2^40.
  const bool capture_range = input.ConsumeBool();
  std::vector<double> frame(2 * static_cast<std::size_t>(n));
  double largest = 0.0;
  for (auto& value : frame) {
    value = capture_range ? (input.ConsumeIntegral<std::uint8_t>() - 127.5) / 128.0
                          : input.ConsumeFloatingPointInRange<double>(-0x1p40, 0x1p40);
    largest = std::max(largest, std::fabs(value));
  }

  const iq::FftPlan forward(n, sign);
  const iq::FftPlan inverse(n, -sign);
  std::vector<double> transformed = frame;
  forward.transform(transformed.data());

  // Either order of the pair returns the frame: the +1 transform carries the division by n.
  std::vector<double> back = transformed;
  inverse.transform(back.data());
  const double tolerance = 1e-9 * largest;
  for (std::size_t k = 0; k < frame.size(); ++k) {
    check(std::isfinite(back[k]), "the round trip gives a value that is not finite");
    check(std::fabs(back[k] - frame[k]) <= tolerance, "the round trip misses the frame");
  }
  return 0;
}
