// SPDX-License-Identifier: MIT
// In-place radix-2 complex FFT with recurrence twiddles, exact to the classic routine.
#include "dsp/fft.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "dsp/capture_format.hpp"
#include "arith/precision.hpp"
#include "arith/whole_numbers.hpp"
#include "dsp/fft_bound.hpp"
#include "dsp/fft_scalar.hpp"

namespace iq {

namespace {

// `value` with its low `bits` bits in reverse order.
std::size_t reverse_bits(std::size_t value, unsigned bits) {
  std::size_t reversed = 0;
  for (unsigned bit = 0; bit < bits; ++bit) reversed |= (value >> bit & 1u) << (bits - 1 - bit);
  return reversed;
}

// The butterfly stages of an n-point transform on data in bit-reversed order. Within a stage
// every butterfly reads only what earlier stages wrote, so the groups may be walked in memory
// order instead of twiddle order.
template <void (*kButterfly)(double&, double&, double&, double&, double, double)>
void butterfly_stages(double* data, std::size_t n, const FftTwiddle* twiddles) {
  for (std::size_t half = 1; half < n; half *= 2) {
    const FftTwiddle* w = twiddles + (half - 1);
    for (std::size_t group = 0; group < n; group += 2 * half) {
      for (std::size_t k = 0; k < half; ++k) {
        double* p = data + 2 * (group + k);
        double* q = data + 2 * (group + k + half);
        kButterfly(p[0], p[1], q[0], q[1], w[k].re, w[k].im);
      }
    }
  }
}

}  // namespace

FftPlan::FftPlan(std::int32_t n, int sign) : n_(n), sign_(sign) {
  if (!is_power_of_two(n) || n > (1 << 30)) throw std::invalid_argument("FFT size must be a power of two");
  if (sign != -1 && sign != 1) throw std::invalid_argument("FFT sign must be -1 or +1");

  // Bit reversal in the classic order, on 1-based double positions p and j.
  const std::int64_t length = 2 * static_cast<std::int64_t>(n);
  std::int64_t j = 1;
  for (std::int64_t p = 1; p < length; p += 2) {
    if (j > p) {
      swaps_.push_back(static_cast<std::uint32_t>((p - 1) / 2));
      swaps_.push_back(static_cast<std::uint32_t>((j - 1) / 2));
    }
    std::int64_t h = length / 2;
    while (h >= 2 && j > h) {
      j -= h;
      h /= 2;
    }
    j += h;
  }

  // Twiddles of each stage by the recurrence, every step rounded to double as stored.
  twiddles_.reserve(static_cast<std::size_t>(n > 1 ? n - 1 : 0));
  for (std::int64_t span = 2; length > span; span *= 2) {
    const double theta = static_cast<double>(widen(6.28318530717959) / static_cast<extended>(sign * span));
    const double sigma = std::sin(static_cast<double>(widen(0.5) * theta));
    const double alpha = static_cast<double>(widen(-2.0) * sigma * sigma);
    const double beta = std::sin(theta);
    double w_re = 1.0;
    double w_im = 0.0;
    for (std::int64_t m = 1; m < span; m += 2) {
      twiddles_.push_back({w_re, w_im});
      const double r = w_re;
      w_re = static_cast<double>(static_cast<extended>(r) * alpha - static_cast<extended>(w_im) * beta + w_re);
      w_im = static_cast<double>(static_cast<extended>(w_im) * alpha + static_cast<extended>(r) * beta + w_im);
    }
  }
  twiddles_fit_vector_ = fft_twiddles_fit_vector(twiddles_.data(), twiddles_.size());
  // The bit reversal of every index, for the lanes on bytes up to kReversedTable points
  // (larger transforms reorder their samples in tiles instead).
  if (n <= kReversedTable) {
    const auto bits = static_cast<unsigned>(std::countr_zero(static_cast<std::uint32_t>(n)));
    for (std::size_t index = 0; index < static_cast<std::size_t>(n); ++index) {
      reversed_.push_back(static_cast<std::uint32_t>(reverse_bits(index, bits)));
    }
  }
  if (n >= 4) {
    const double w = twiddles_[2].re;
    first_stages_exact_ = twiddles_[2].im == -1.0 && std::fabs(w) <= 0x1p-40 && std::fmod(w, 0x1p-52) == 0.0;
  }
  // The plain stages' bound: the stages not exact on bytes can err; |w|^2 rounded upwards.
  double largest_squared = 0.0;
  for (const FftTwiddle& w : twiddles_) largest_squared = std::fmax(largest_squared, w.re * w.re + w.im * w.im);
  const auto stages = static_cast<unsigned>(std::countr_zero(static_cast<std::uint32_t>(n)));
  const auto exact = static_cast<unsigned>(std::countr_zero(exact_on_bytes_below()));
  plain_bound_per_norm_ = plain_fft_bound_per_norm(
      static_cast<std::size_t>(n), stages > exact ? stages - exact : 0, largest_squared * (1.0 + 0x1p-50));
}

void FftPlan::transform(double* data) const {
  for (std::size_t s = 0; s < swaps_.size(); s += 2) {
    const std::size_t p = swaps_[s];
    const std::size_t j = swaps_[s + 1];
    std::swap(data[2 * p], data[2 * j]);
    std::swap(data[2 * p + 1], data[2 * j + 1]);
  }
  // Extended arithmetic in software is slow: there the butterflies take the proven double
  // evaluation (dsp/fft_scalar.hpp), which needs the twiddles in the vector evaluation's range.
  if constexpr (!kHardwareExtended) {
    if (twiddles_fit_vector_) {
      butterfly_stages<butterfly_fast>(data, static_cast<std::size_t>(n_), twiddles_.data());
      divide_inverse(data);
      return;
    }
  }
  butterfly_stages<butterfly_extended>(data, static_cast<std::size_t>(n_), twiddles_.data());
  divide_inverse(data);
}

namespace {

// The butterflies that point k of the result depends on: in the stage with half-span h, the
// one of each group whose points agree with k in their low bits (k mod h).
template <void (*kButterfly)(double&, double&, double&, double&, double, double)>
void point_stages(double* data, std::size_t n, std::size_t k, const FftTwiddle* twiddles) {
  for (std::size_t half = 1; half < n; half *= 2) {
    const std::size_t r = k & (half - 1);
    const FftTwiddle w = twiddles[half - 1 + r];
    for (std::size_t group = r; group < n; group += 2 * half) {
      double* p = data + 2 * group;
      double* q = p + 2 * half;
      kButterfly(p[0], p[1], q[0], q[1], w.re, w.im);
    }
  }
}

}  // namespace

std::pair<double, double> FftPlan::transform_bytes_point(const std::uint8_t* bytes, std::size_t k,
                                                         std::vector<double>& work) const {
  const auto n = static_cast<std::size_t>(n_);
  work.resize(2 * n);
  for (std::size_t i = 0; i < 2 * n; ++i) work[i] = kNormalisedCu8[bytes[i]];
  for (std::size_t s = 0; s < swaps_.size(); s += 2) {
    std::swap(work[2 * swaps_[s]], work[2 * swaps_[s + 1]]);
    std::swap(work[2 * swaps_[s] + 1], work[2 * swaps_[s + 1] + 1]);
  }
  if (!kHardwareExtended && twiddles_fit_vector_) {
    point_stages<butterfly_fast>(work.data(), n, k, twiddles_.data());
  } else {
    point_stages<butterfly_extended>(work.data(), n, k, twiddles_.data());
  }
  return {work[2 * k], work[2 * k + 1]};
}

void FftPlan::divide_inverse(double* data) const {
  if (sign_ != 1) return;
  const auto divisor = static_cast<extended>(n_);
  const auto values = 2 * static_cast<std::size_t>(n_);
  for (std::size_t i = 0; i < values; ++i) data[i] = static_cast<double>(data[i] / divisor);
}

std::uint16_t* FftLaneWork::samples(std::size_t count) {
  if (samples_.size() < count) samples_.resize(count);
  return samples_.data();
}

double* FftLaneWork::values(std::size_t count) {
  constexpr std::size_t kAlignDoubles = 8;
  if (storage_.size() < count + kAlignDoubles) storage_.resize(count + kAlignDoubles);
  const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
  const std::size_t skip = (kAlignDoubles - address / sizeof(double) % kAlignDoubles) % kAlignDoubles;
  return storage_.data() + skip;
}

void FftPlan::transform_lanes(std::span<double* const> frames, FftLaneWork& work, FftPath path) const {
  if (frames.size() > kFftLanes) throw std::invalid_argument("too many frames for the FFT lanes");
  const bool vector =
      path == FftPath::vector || (path == FftPath::fastest && twiddles_fit_vector_ && fft_vector_supported());
  if (!vector || n_ == 1) {
    for (double* frame : frames) transform(frame);
    return;
  }
  if (!twiddles_fit_vector_) throw std::invalid_argument("twiddles outside the vector evaluation's range");
  // Into lane layout in bit-reversed order (the permutation the swaps make), unused lanes zero.
  const auto n = static_cast<std::size_t>(n_);
  const std::size_t lanes = frames.size();
  double* data = work.values(16 * n);
  std::size_t reversed = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double* point = data + 16 * reversed;
    for (std::size_t l = 0; l < kFftLanes; ++l) {
      point[l] = l < lanes ? frames[l][2 * i] : 0.0;
      point[8 + l] = l < lanes ? frames[l][2 * i + 1] : 0.0;
    }
    std::size_t bit = n / 2;
    while (bit > 0 && (reversed & bit) != 0) {
      reversed ^= bit;
      bit /= 2;
    }
    reversed |= bit;
  }
  if (!fft_stages_vector(data, n, twiddles_.data(), 1, true)) {
    for (double* frame : frames) transform(frame);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double* point = data + 16 * i;
    for (std::size_t l = 0; l < lanes; ++l) {
      frames[l][2 * i] = point[l];
      frames[l][2 * i + 1] = point[8 + l];
    }
  }
  for (double* frame : frames) divide_inverse(frame);
}

namespace {

// The first two stages on normalised bytes, exact in double. Every normalised byte is an odd
// multiple of 2^-8 below 1 in magnitude, so the first stage's sums and differences (twiddle
// (1, +0)) are exact: multiples of 2^-8 below 2. In the second stage the unit twiddle's are
// exact again (below 4); the other twiddle is (w, -1) with w a multiple of 2^-52 of at most
// 2^-40 (first_stages_exact_, checked per plan), so w q is exact (a multiple of 2^-60 of at
// most 3 bits more than q) and so is -1 q; their sum V is a multiple of 2^-60 below 2 + 2^-38,
// at most 62 bits, so the extended t = RN53(RN64(V)) = RN53(V), which double arithmetic gives;
// t is a multiple of 2^-60 too, and p -+ t (below 4, at most 62 bits) is exact in extended
// precision, so RN53 of it is the double sum. Every step is the extended butterfly's value.
constexpr bool normalised_bytes_are_short() {
  for (const double v : kNormalisedCu8) {
    const double scaled = v * 256.0;
    if (!(scaled > -256.0 && scaled < 256.0) || scaled != static_cast<double>(static_cast<int>(scaled)))
      return false;
  }
  return true;
}
static_assert(normalised_bytes_are_short());

// Sample i of `from` (n samples of two bytes, n a power of two from 1024) to
// to[reversed(i)], in tiles of 32 x 32 samples. With a the top five bits of i, c the low five
// and b those between, reversed(i) has reversed(c) on top, then reversed(b), then
// reversed(a). For each b the tile's rows (a) are runs of 32 samples in sequence in `from`,
// and its columns (c) become runs in sequence in `to`: every read and write is a 64-byte run,
// where sample by sample the reads would jump across the whole frame.
void reverse_samples(const std::uint8_t* from, std::uint16_t* to, std::size_t n) {
  constexpr unsigned kTileBits = 5;
  constexpr std::size_t kTile = std::size_t{1} << kTileBits;
  std::size_t tile_reversed[kTile];
  for (std::size_t k = 0; k < kTile; ++k) tile_reversed[k] = reverse_bits(k, kTileBits);
  const auto bits = static_cast<unsigned>(std::countr_zero(n));
  const unsigned middle_bits = bits - 2 * kTileBits;
  const std::size_t row = n >> kTileBits;  // from one value of a (or of reversed(c)) to the next
  std::uint16_t tile[kTile][kTile];
  for (std::size_t b = 0; b < (std::size_t{1} << middle_bits); ++b) {
    for (std::size_t a = 0; a < kTile; ++a) {
      const std::uint8_t* run = from + 2 * (a * row + (b << kTileBits));
      for (std::size_t c = 0; c < kTile; ++c)
        std::memcpy(&tile[tile_reversed[c]][tile_reversed[a]], run + 2 * c, 2);
    }
    std::uint16_t* column = to + (reverse_bits(b, middle_bits) << kTileBits);
    for (std::size_t u = 0; u < kTile; ++u) std::memcpy(column + u * row, tile[u], sizeof tile[u]);
  }
}

}  // namespace

bool FftPlan::lanes_serve_bytes() const { return sign_ == -1 && twiddles_fit_vector_ && fft_vector_supported(); }

double* FftPlan::fill_byte_lanes(std::span<const std::uint8_t* const> frames, FftLaneWork& work) const {
  if (frames.size() > kFftLanes) throw std::invalid_argument("too many frames for the FFT lanes");
  const auto n = static_cast<std::size_t>(n_);
  const std::size_t lanes = frames.size();
  double* data = work.values(16 * n);
  // Sample reversed(i) of lane l for point i: by the table when it covers n; otherwise each
  // frame's samples (two bytes each) are put in bit-reversed order first, so that the points
  // are read in sequence and the frames need not stay in cache (sample i of lane l is then at
  // reordered[l n + i]).
  const bool by_table = !reversed_.empty();
  std::uint16_t* reordered = by_table ? nullptr : work.samples(lanes * n);
  for (std::size_t l = 0; !by_table && l < lanes; ++l) reverse_samples(frames[l], reordered + l * n, n);
  // Point i of lane l: the normalised sample reversed(i); zeros in unused lanes.
  for (std::size_t i = 0; i < n; ++i) {
    double* point = data + 16 * i;
    for (std::size_t l = 0; l < lanes; ++l) {
      const std::uint8_t* bytes =
          by_table ? frames[l] + 2 * reversed_[i] : reinterpret_cast<const std::uint8_t*>(reordered + l * n + i);
      point[l] = kNormalisedCu8[bytes[0]];
      point[8 + l] = kNormalisedCu8[bytes[1]];
    }
    std::fill_n(point + lanes, kFftLanes - lanes, 0.0);
    std::fill_n(point + 8 + lanes, kFftLanes - lanes, 0.0);
  }
  return data;
}

const double* FftPlan::transform_bytes_lanes(std::span<const std::uint8_t* const> frames,
                                             FftLaneWork& work) const {
  if (!lanes_serve_bytes()) return nullptr;
  double* data = fill_byte_lanes(frames, work);
  // The first stages are exact on normalised bytes (above).
  if (!fft_stages_vector(data, static_cast<std::size_t>(n_), twiddles_.data(), exact_on_bytes_below(), false))
    return nullptr;
  return data;
}

const double* FftPlan::transform_bytes_plain(const std::uint8_t* first, std::size_t stride, std::size_t count,
                                             FftLaneWork& work, double* norms) const {
  if (count > kFftLanes) throw std::invalid_argument("too many frames for the FFT lanes");
  if (!lanes_serve_bytes()) return nullptr;
  const auto n = static_cast<std::size_t>(n_);
  double* data = work.values(16 * n);
  double squares[kFftLanes];
  std::size_t done_below = 4;
  if (n < 8 || stride % 4 != 0 || reversed_.empty() || !first_stages_exact_ ||
      !fft_fill_two_stages(first, stride, count, reversed_.data(), n, twiddles_.data(), data, squares)) {
    const std::uint8_t* frames[kFftLanes];
    for (std::size_t l = 0; l < count; ++l) frames[l] = first + l * stride;
    fill_byte_lanes(std::span(frames, count), work);
    for (std::size_t l = 0; l < count; ++l) squares[l] = -1.0;
    done_below = 1;
  }
  for (std::size_t l = 0; l < count; ++l) {
    // The sum of squares is exact: each square a multiple of 2^-16 below 1, at most 2^31 of them.
    norms[l] =
        squares[l] >= 0.0 ? std::sqrt(squares[l]) * (1.0 + 0x1p-30) : byte_frame_norm(first + l * stride, n);
  }
  if (!fft_stages_plain(data, n, twiddles_.data(), done_below)) return nullptr;
  return data;
}

}  // namespace iq
