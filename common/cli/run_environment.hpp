// SPDX-License-Identifier: MIT
// The settings a run takes from the environment: the vector target and the thread count.
#pragma once

#include <string_view>

namespace iq {

// Reads IQTOOLS_SIMD and IQTOOLS_THREADS and hands them to the signal code, once at the start of
// a run. Unset or empty, each leaves the default: the best vector target this processor runs,
// and one thread per core.
//   IQTOOLS_SIMD     "scalar" or a vector target's name, any case (a target this processor
//                    cannot run leaves the best one)
//   IQTOOLS_THREADS  a whole number of 1 or more (more than the cores gives one per core)
// Any other value is a ToolError naming the variable, its value and the valid values.
void apply_run_environment();

// The same checks of the two values (nullptr: unset), for tests.
void apply_run_environment(const char* simd, const char* threads);

}  // namespace iq
