// SPDX-License-Identifier: MIT
// Which instruction set the vector kernels run on.
//
// The kernels (FFT lanes, correlation sums, spectrum power and sums) are written once with
// Google Highway and compiled for every target Highway offers on the processor family (x86:
// SSSE3, SSE4, AVX2, AVX-512; ARM: NEON, SVE); the best one this processor runs is chosen at
// run time. Every target gives the same bits as the extended evaluation.
//
// A run may pin the choice (the tools take it from IQTOOLS_SIMD, cli/run_environment.hpp):
// "scalar" turns the vector kernels off (the extended evaluation runs everywhere), a target's
// name ("sse4", "avx2", "avx3", "neon", "sve", "emu128", any case) runs that target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace iq {

// The name the kernels run on: Highway's name of the target ("AVX2", "NEON", ...), or "scalar"
// when the vector kernels are off.
std::string vector_target();

// Whether the vector kernels run at all.
bool vector_kernels_on();

// Lower-case names of the targets this processor runs and this build holds, best first,
// then "scalar".
std::vector<std::string> vector_targets_available();

// Pins the kernels to one of vector_targets_available() (any case); returns false and changes
// nothing for any other name. For tests and benchmarks; not while kernels run on other threads.
bool pin_vector_target(std::string_view name);

// Highway's bit of the target the kernels run on (0 when they are off).
std::int64_t vector_target_bit();

}  // namespace iq
