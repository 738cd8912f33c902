// The numeric policy of the toolkit: which quantities are single, double or extended precision.
//
// Results are defined by where values are rounded. Every expression is evaluated in extended
// precision (64-bit significand, x87 long double on x86-64 with GCC) and rounded only when it is
// stored into a float (single) or double variable. Code that computes a printed value therefore
// widens its operands to `extended` and narrows on assignment; a plain double expression would
// round each intermediate to 53 bits and can change the last printed digit.
#pragma once

namespace iq {

// Extended precision: the type every intermediate result is evaluated in.
using extended = long double;

static_assert(sizeof(extended) > sizeof(double), "extended precision needs a wider long double");

// A constant the arithmetic calls "the double X": the double literal widened, never an
// extended literal (0.1 and 0.1L differ).
constexpr extended widen(double x) { return static_cast<extended>(x); }

}  // namespace iq
