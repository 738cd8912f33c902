// SPDX-License-Identifier: MIT
// How far a transform in plain double arithmetic can lie from the extended evaluation, bound
// before the transform from the frame's norm alone.
//
// RNk rounds to nearest with a k-bit significand; u = 2^-53, v = 2^-64. A forward transform of
// n = 2^L points runs L stages; stage s maps the vector y_{s-1} (y_0 = x, the frame) to y_s by
// butterflies p' = p + w q, q' = p - w q on disjoint pairs. Let B_s be that stage in exact
// arithmetic with the stored twiddles (the recurrence's doubles) and W = max(1, max |w|). Each
// butterfly's matrix [1 w; 1 -w] has B^H B = diag(2, 2|w|^2), so ||B_s|| = sqrt(2) W in the
// 2-norm, and every stage from s + 1 to L together has norm at most (sqrt(2) W)^(L - s).
//
// The plain evaluation (this file's bound is for it) stores y_s = B_s y_{s-1} + e_s. Its
// twiddle product t^ = (RN(RN(wr qr) - RN(wi qi)), RN(RN(wr qi) + RN(wi qr))) -- or with one
// product fused, which errs less -- has each component within u (2 + u) (|wr qr| + |wi qi|) <=
// u (2 + u) |w| |q| of t = w q (Cauchy-Schwarz), so |t^ - t| <= sqrt(2) u (2 + u) W |q|; the
// sums err by at most u |p +- t^| per component, so by u |p +- t^| as complex numbers. The
// output error of a butterfly is (t^ - t + r_p, -(t^ - t) + r_q); summed over the stage,
//   ||e_s|| <= sqrt(2) (sum |t^ - t|^2)^(1/2) + u (sum |p + t^|^2 + |p - t^|^2)^(1/2)
//           <= [2 u (2 + u) + sqrt(2) u (1 + 3u)] W ||y_{s-1}|| <= (4 + sqrt(2)) u (1 + 2u) W ||y_{s-1}||,
// using sum |p + t^|^2 + |p - t^|^2 = 2 sum (|p|^2 + |t^|^2) and |t^| <= (1 + 3u) W |q|.
//
// The extended evaluation (the defined one) stores z_s = B_s z_{s-1} + f_s with
// t_e = RN53(RN64(RN64(wr qr) -+ RN64(wi qi))) per component, within u |t| + 2^-62.5 W |q| of t,
// and sums RN53(RN64(p +- t_e)), within (u + v + uv) |p +- t_e|; as above
//   ||f_s|| <= sqrt(2) [(u + 2^-62.5) + (u + v + uv)] (1 + 2u) W ||z_{s-1}|| <= 2 sqrt(2) u (1 + 2^-9) W
//   ||z_{s-1}||.
// Both grow their vectors by at most sqrt(2) W (1 + 3.9u) a stage, so ||y_s||, ||z_s|| <=
// (sqrt(2) W)^s (1 + 3.9u)^s ||x||.
//
// The difference D_s = y_s - z_s = B_s D_{s-1} + e_s - f_s starts at zero, so
//   ||D_L|| <= sum over the stages of (sqrt(2) W)^(L - s) (||e_s|| + ||f_s||)
//           <= A (4 + sqrt(2) + 2 sqrt(2) (1 + 2^-9)) (1 + 2u) (1 + 3.9u)^L u W^L 2^((L-1)/2) ||x||
//           <= A 5.842 u sqrt(n) W^L ||x|| (1 + 2^-30)   for L <= 30,
// where A counts the stages that can err: stages whose every operation is exact on the frames
// (the first one or two on normalised bytes, FftPlan) add nothing to either side. Each bin's
// difference is at most ||D_L||. No operation leaves the normal range: normalised bytes are
// multiples of 2^-8, twiddles are 0 or at least 2^-100, and the absolute term 2^-1000 that
// callers add covers, with room to spare, errors that a subnormal intermediate could make.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iq {

// The constant C of the bound: every value of a plain transform of n points (a power of two up
// to 2^30) lies within C ||x|| + 2^-1000 of the extended evaluation's, where `erring_stages`
// stages can err and `largest_twiddle_squared` is at least the largest wr^2 + wi^2 of the table.
// Rounded upwards.
double plain_fft_bound_per_norm(std::size_t n, unsigned erring_stages, double largest_twiddle_squared);

// An upper bound on the 2-norm of a frame of n samples of capture bytes (2n bytes, normalised
// as (b - 127.5) / 128): the square root of an exact sum, rounded upwards.
double byte_frame_norm(const std::uint8_t* bytes, std::size_t n);

}  // namespace iq
