// SPDX-License-Identifier: MIT
// The refusal of a parameter.
#include "cli/arguments.hpp"

#include "io/tool_error.hpp"

namespace iq {

void refuse_parameter(std::string_view parameter, std::string_view valid_range, std::string_view given) {
  throw ToolError(std::string(parameter) + " must be " + std::string(valid_range) + " (got '" +
                  std::string(given) + "')");
}

}  // namespace iq
