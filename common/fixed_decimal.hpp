// Fixed-point text of a double exactly as printf's "%.<decimals>f" prints it, without printf's
// per-call cost, for tables of hundreds of thousands of rows.
#pragma once

#include <string>

namespace iq {

// Appends `value` as "%.<decimals>f" prints it (decimals 0..9): the exact binary value rounded
// to nearest, ties to even, a minus sign for every negative value and for -0. No field width.
void append_fixed(std::string& out, double value, int decimals);

}  // namespace iq
