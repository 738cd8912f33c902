// SPDX-License-Identifier: MIT
// A run's request for a vector target, kept apart from the kernels, so that a program without
// vector kernels asks for nothing it does not hold (and never loads the vector library).
#pragma once

#include <string_view>

namespace iq {

// Asks for the vector target `name` (a name vector_target.hpp accepts, any case): the kernels,
// where a program holds them, run on it from now on.
void request_vector_target(std::string_view name);

// How the kernels take a request: vector_target.cpp registers its pin when it is linked in, and
// a request made before that is handed over then.
using TargetPin = bool (*)(std::string_view name);
bool register_target_pin(TargetPin pin);

}  // namespace iq
