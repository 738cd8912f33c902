// SPDX-License-Identifier: MIT
// Messages for failed file operations.
#include "io/tool_error.hpp"

#include <cstring>

namespace iq {

std::string system_error_text(const std::string& what, int errnum) { return what + ": " + std::strerror(errnum); }

}  // namespace iq
