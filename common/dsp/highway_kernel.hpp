// SPDX-License-Identifier: MIT
// The preamble of every file of vector kernels that Highway compiles once per target.
//
// A kernel file names itself, then includes this header:
//   #define HWY_TARGET_INCLUDE "dsp/power_units.cpp"
//   #include "dsp/highway_kernel.hpp"
// Highway then re-includes the file, and this header with it, once per target of the processor
// family (hence no include guard). The kernels go between HWY_BEFORE_NAMESPACE() and
// HWY_AFTER_NAMESPACE() in namespace iq::HWY_NAMESPACE, where `hn` names the target's
// operations; the code that chooses among the targets goes under `#if HWY_ONCE`.

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "dsp/vector_target.hpp"

HWY_BEFORE_NAMESPACE();
namespace iq::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
}  // namespace iq::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();
