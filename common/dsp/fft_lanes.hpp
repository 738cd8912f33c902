// SPDX-License-Identifier: MIT
// The butterflies of the FFT on eight frames side by side, one frame per vector lane.
//
// Two evaluations give the same bits. The extended one is the butterfly of the classic routine
// in extended precision. The vector one (written once with Highway, compiled for every vector
// target) computes in double precision with error-free transforms and proves, lane by lane, that the double it
// stores is the one the extended evaluation rounds to; a lane it cannot prove is redone in extended precision (see
// fft_lanes.cpp for the proof).
#pragma once

#include <cstddef>
#include <cstdint>

#include "arith/precision.hpp"

namespace iq {

// One twiddle factor.
struct FftTwiddle {
  double re;
  double im;
};

// Frames transformed side by side.
inline constexpr std::size_t kFftLanes = 8;

// The butterfly of the classic routine on complex values p and q with twiddle w, evaluated in
// extended precision and rounded to double where stored.
inline void butterfly_extended(double& p_re, double& p_im, double& q_re, double& q_im, double w_re, double w_im) {
  const extended wr = w_re;
  const extended wi = w_im;
  const double t_re = static_cast<double>(wr * q_re - wi * q_im);
  const double t_im = static_cast<double>(wr * q_im + wi * q_re);
  q_re = static_cast<double>(static_cast<extended>(p_re) - t_re);
  q_im = static_cast<double>(static_cast<extended>(p_im) - t_im);
  p_re = static_cast<double>(static_cast<extended>(p_re) + t_re);
  p_im = static_cast<double>(static_cast<extended>(p_im) + t_im);
}

// Whether the vector evaluation runs: the chosen target (dsp/vector_target.hpp) has double
// lanes and the kernels are not turned off.
bool fft_vector_supported();
// Whether it also has fused multiply-adds: the proof's error-free products take one operation
// instead of Dekker's seven, which decides whether it beats the x87 unit (without them, on
// 2-lane targets, it is about 7 % slower there).
bool fft_vector_fused();

// Whether the vector evaluation takes a table of twiddles laid out by stage (see below): its
// proof needs every component to be zero or of a magnitude from 2^-100 to 2, and each stage's
// first factor to be (1, +0). The recurrence always gives such values.
bool fft_twiddles_fit_vector(const FftTwiddle* twiddles, std::size_t count);

// All butterfly stages of an n-point transform (n a power of two) on data in lane layout,
// already in bit-reversed order: complex point i of lane l has its real part at data[16 i + l]
// and its imaginary part at data[16 i + 8 + l]. The stage with half-span h takes its twiddles
// from twiddles[h - 1 .. 2h - 1); the stages with half-spans below `exact_below` are taken in
// plain double arithmetic, the caller having proven every step of them exact. Only where
// fft_vector_supported() and the twiddles fit. With `check_range`, returns false, leaving the
// data as it was, when a value is not finite or above 2^420 in magnitude (the proof's range;
// such frames take the extended evaluation); without, the caller vouches for the range.
bool fft_stages_vector(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t exact_below,
                       bool check_range);

// The same stages in plain double arithmetic (fused products where the target has them), with
// no proof: for callers that bound the distance of the whole transform from the extended
// evaluation themselves (dsp/fft_bound.hpp). Stages with half-spans below `first_half` are taken
// as done. Returns false where fft_stages_vector has no kernel.
bool fft_stages_plain(double* data, std::size_t n, const FftTwiddle* twiddles, std::size_t first_half);

// Up to kFftLanes frames of capture bytes into lane layout (as fft_stages_vector takes it, unused
// lanes zero) with the first two stages done, each step exact as the stages' on normalised bytes
// (FftPlan); squares[l] receives lane l's sum of squared normalised values, exact. Frame l
// starts at first + l stride (stride a multiple of four); sample reversed[i] of a frame becomes
// point i (n a power of two from 8, `reversed` the bit reversal of n points, `twiddles` the
// table's first three factors). Returns false where fft_stages_vector has no kernel.
bool fft_fill_two_stages(const std::uint8_t* first, std::size_t stride, std::size_t lanes,
                         const std::uint32_t* reversed, std::size_t n, const FftTwiddle* twiddles, double* data,
                         double* squares);

// Eight butterflies with one twiddle by the vector evaluation, on arrays of lane values, for
// tests: returns the mask of lanes that were redone in extended precision; `unchecked`, if
// given, receives the vector results before any lane was redone.
struct ButterflyLanes {
  double p_re[kFftLanes];
  double p_im[kFftLanes];
  double q_re[kFftLanes];
  double q_im[kFftLanes];
};
unsigned butterfly_lanes_vector(ButterflyLanes& lanes, FftTwiddle w, ButterflyLanes* unchecked = nullptr);

}  // namespace iq
