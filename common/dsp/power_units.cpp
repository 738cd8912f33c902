// SPDX-License-Identifier: MIT
// The power of runs of bytes in units of 2^-16, in vectors: each byte widened to 16 bits as
// 2b - 255 and squared into 32-bit lanes, two products to a lane. Taken 8192 bytes at a time,
// a lane gathers at most 8192 products of at most 65025 each, below 2^31.
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

}  // namespace
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace iq {

constexpr std::size_t kPowerUnitPiece = 8192;

HWY_EXPORT(PowerUnitsKernel);

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

}  // namespace iq
#endif  // HWY_ONCE
