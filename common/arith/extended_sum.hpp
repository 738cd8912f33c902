// Running sums of doubles whose every addition is done in extended precision and rounded to
// double, as the toolkit's folds and averages add their values.
#pragma once

namespace iq {

// sum + value evaluated in extended precision and rounded to double. Double arithmetic gives
// the result, proven; the extended addition itself runs only where the two roundings could
// differ (about once in 2^10 additions of random values, and at infinities and subnormals).
double add_extended(double sum, double value);

}  // namespace iq
