// SPDX-License-Identifier: MIT
// The power of runs of samples as whole numbers: a component's byte b has the power
// (2b - 255)^2 / 65536, so the power of any run is a whole number of 2^-16, summed exactly in
// integers, in vectors (Highway, every vector target) or one byte at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iq {

// The sum of (2b - 255)^2 over `count` bytes: the power of the samples they hold in units of
// 2^-16.
std::uint64_t power_units(const std::uint8_t* bytes, std::size_t count);

// The same, one byte at a time, for any count.
std::uint64_t power_units_plain(const std::uint8_t* bytes, std::size_t count);

// The power of the samples in the first `count` bytes (pairs of I and Q; an odd last byte is
// left out) as in power_units, and the sum of the squares of the samples' powers (units of
// 2^-32, exact below 2^64) added to `squares`.
std::uint64_t power_units_and_squares(const std::uint8_t* bytes, std::size_t count, std::uint64_t& squares);

// The same, one sample at a time.
std::uint64_t power_units_and_squares_plain(const std::uint8_t* bytes, std::size_t count, std::uint64_t& squares);

}  // namespace iq
