// SPDX-License-Identifier: MIT
// The run's request for a vector target, handed to the kernels where a program holds them.
#include "dsp/target_request.hpp"

#include <string>

namespace iq {

namespace {

// Constant-initialised, so that a registration during static initialisation finds them set.
TargetPin registered_pin = nullptr;

std::string& requested_name() {
  static std::string name;
  return name;
}

}  // namespace

void request_vector_target(std::string_view name) {
  requested_name() = name;
  if (registered_pin != nullptr) registered_pin(name);
}

bool register_target_pin(TargetPin pin) {
  registered_pin = pin;
  if (!requested_name().empty()) pin(requested_name());
  return true;
}

}  // namespace iq
