// SPDX-License-Identifier: MIT
// The power of runs of bytes in units of 2^-16, in vectors: each byte widened to 16 bits as
// 2b - 255 and squared into 32-bit lanes, two products to a lane. Taken 8192 bytes at a time,
// a lane gathers at most 8192 products of at most 65025 each, below 2^31.
//
// With the squares of the samples' powers: a byte's square (at most 65025) is exact in 16 bits,
// so the I and Q squares of a sample side by side in a 32-bit lane add to its power u (below
// 2^17, at most 2048 of them to a lane from 8192 bytes), and u^2 (below 2^34) is summed in
// 64-bit lanes.
#include "dsp/power_units.hpp"

#include <algorithm>

// Highway compiles this file once per target.
#define HWY_TARGET_INCLUDE "dsp/power_units.cpp"
#include "dsp/highway_kernel.hpp"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace {

// Whole vectors of bytes from the start; returns how many bytes it took into `units`.
std::size_t PowerUnitsKernel(const std::uint8_t* bytes, std::size_t count, std::uint64_t* units) {
  const hn::ScalableTag<std::int16_t> d16;
  const hn::Rebind<std::uint8_t, decltype(d16)> d8;
  const hn::Repartition<std::int32_t, decltype(d16)> d32;
  const std::size_t lanes = hn::Lanes(d16);
  auto sum0 = hn::Zero(d32);
  auto sum1 = hn::Zero(d32);
  std::size_t k = 0;
  for (; k + lanes <= count; k += lanes) {
    const auto wide =
        hn::BitCast(d16, hn::PromoteTo(hn::RebindToUnsigned<decltype(d16)>(), hn::LoadU(d8, bytes + k)));
    const auto centred = hn::Sub(hn::Add(wide, wide), hn::Set(d16, 255));
    sum0 = hn::ReorderWidenMulAccumulate(d32, centred, centred, sum0, sum1);
  }
  *units = static_cast<std::uint64_t>(hn::GetLane(hn::SumOfLanes(d32, hn::Add(sum0, sum1))));
  return k;
}

#if HWY_TARGET != HWY_SCALAR

// Whole vectors of bytes from the start (`count` even); returns how many bytes it took into
// `units` and `squares`.
std::size_t PowerSquaresKernel(const std::uint8_t* bytes, std::size_t count, std::uint64_t* units,
                               std::uint64_t* squares) {
  const hn::ScalableTag<std::uint16_t> d16;
  const hn::Rebind<std::uint8_t, decltype(d16)> d8;
  const hn::Repartition<std::uint32_t, decltype(d16)> d32;
  const hn::Repartition<std::uint64_t, decltype(d16)> d64;
  const std::size_t lanes = hn::Lanes(d16);
  auto unit_sum = hn::Zero(d32);
  auto even_squares = hn::Zero(d64);
  auto odd_squares = hn::Zero(d64);
  std::size_t k = 0;
  for (; k + lanes <= count; k += lanes) {
    const auto wide = hn::PromoteTo(d16, hn::LoadU(d8, bytes + k));
    const auto centred = hn::Sub(hn::Add(wide, wide), hn::Set(d16, 255));  // 2b - 255 modulo 2^16
    const auto pair = hn::BitCast(d32, hn::Mul(centred, centred));
    const auto power = hn::Add(hn::And(pair, hn::Set(d32, 0xFFFF)), hn::ShiftRight<16>(pair));
    unit_sum = hn::Add(unit_sum, power);
    even_squares = hn::Add(even_squares, hn::MulEven(power, power));
    const auto odd = hn::BitCast(d32, hn::ShiftRight<32>(hn::BitCast(d64, power)));
    odd_squares = hn::Add(odd_squares, hn::MulEven(odd, odd));
  }
  *units = static_cast<std::uint64_t>(hn::GetLane(hn::SumOfLanes(d32, unit_sum)));
  *squares = hn::GetLane(hn::SumOfLanes(d64, hn::Add(even_squares, odd_squares)));
  return k;
}

#else  // one lane: the plain loop takes every byte

std::size_t PowerSquaresKernel(const std::uint8_t*, std::size_t, std::uint64_t* units, std::uint64_t* squares) {
  *units = *squares = 0;
  return 0;
}

#endif

}  // namespace
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace iq {

constexpr std::size_t kPowerUnitPiece = 8192;

HWY_EXPORT(PowerUnitsKernel);
HWY_EXPORT(PowerSquaresKernel);

std::uint64_t power_units_plain(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t units = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::int32_t centred = 2 * bytes[k] - 255;
    units += static_cast<std::uint64_t>(centred * centred);
  }
  return units;
}

std::uint64_t power_units(const std::uint8_t* bytes, std::size_t count) {
  if (!vector_kernels_on()) return power_units_plain(bytes, count);
  std::uint64_t units = 0;
  while (count > 0) {  // pieces that keep every lane below 2^31
    const std::size_t piece = std::min(count, kPowerUnitPiece);
    std::uint64_t piece_units = 0;
    const std::size_t done = HWY_DYNAMIC_DISPATCH(PowerUnitsKernel)(bytes, piece, &piece_units);
    units += piece_units + power_units_plain(bytes + done, piece - done);
    bytes += piece;
    count -= piece;
  }
  return units;
}

std::uint64_t power_units_and_squares_plain(const std::uint8_t* bytes, std::size_t count, std::uint64_t& squares) {
  std::uint64_t units = 0;
  for (std::size_t k = 0; k + 1 < count; k += 2) {
    const std::int32_t i = 2 * bytes[k] - 255;
    const std::int32_t q = 2 * bytes[k + 1] - 255;
    const auto u = static_cast<std::uint64_t>(i * i + q * q);
    units += u;
    squares += u * u;
  }
  return units;
}

std::uint64_t power_units_and_squares(const std::uint8_t* bytes, std::size_t count, std::uint64_t& squares) {
  if (!vector_kernels_on()) return power_units_and_squares_plain(bytes, count, squares);
  count -= count % 2;
  std::uint64_t units = 0;
  while (count > 0) {  // pieces that keep every 32-bit lane below 2^31
    const std::size_t piece = std::min(count, kPowerUnitPiece);
    std::uint64_t piece_units = 0;
    std::uint64_t piece_squares = 0;
    const std::size_t done = HWY_DYNAMIC_DISPATCH(PowerSquaresKernel)(bytes, piece, &piece_units, &piece_squares);
    squares += piece_squares;
    units += piece_units + power_units_and_squares_plain(bytes + done, piece - done, squares);
    bytes += piece;
    count -= piece;
  }
  return units;
}

}  // namespace iq
#endif  // HWY_ONCE
