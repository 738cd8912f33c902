// SPDX-License-Identifier: MIT
// The numeric policy of the toolkit: which quantities are single, double or extended precision.
//
// Results are defined by where values are rounded. Every expression is evaluated in extended
// precision (a 64-bit significand and a 15-bit exponent, rounded to nearest even) and rounded
// only when it is stored into a float (single) or double variable. Code that computes a printed
// value therefore widens its operands to `extended` and narrows on assignment; a plain double
// expression would round each intermediate to 53 bits and can change the last printed digit.
//
// `extended` is the processor's long double where that is exactly this format (the x87 unit of
// x86-64 and i386), and the software type of soft_extended.hpp everywhere else (aarch64's long
// double has a 113-bit significand, 32-bit ARM's is a plain double), or when the build asks for
// it (IQTOOLS_SOFT_EXTENDED, to test the software type on x86). Both round identically; code
// converts to and from float, double and integers with explicit static_casts and rounds to whole
// numbers or takes roots with the helpers below, never with <cmath>.
#pragma once

#include <cfloat>
#include <cmath>

#include "arith/soft_extended.hpp"

#if !defined(IQTOOLS_SOFT_EXTENDED) && LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384
#define IQTOOLS_HARDWARE_EXTENDED 1
#endif

namespace iq {

#if defined(IQTOOLS_HARDWARE_EXTENDED)
// Extended precision: the type every intermediate result is evaluated in.
using extended = long double;

inline extended floor_ext(extended x) { return std::floor(x); }
inline extended ceil_ext(extended x) { return std::ceil(x); }
inline extended sqrt_ext(extended x) { return std::sqrt(x); }
#else
// Extended precision: the type every intermediate result is evaluated in.
using extended = SoftExtended;

inline constexpr extended floor_ext(extended x) { return floor(x); }
inline constexpr extended ceil_ext(extended x) { return ceil(x); }
inline constexpr extended sqrt_ext(extended x) { return sqrt(x); }
#endif

// Whether `extended` is the processor's own type (true) or the software one.
inline constexpr bool kHardwareExtended =
#if defined(IQTOOLS_HARDWARE_EXTENDED)
    true;
#else
    false;
#endif

// A constant the arithmetic calls "the double X": the double literal widened, never an
// extended literal (0.1 and 0.1L differ).
constexpr extended widen(double x) { return static_cast<extended>(x); }

}  // namespace iq
