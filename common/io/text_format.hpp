// printf-style formatting into std::string, so tools can print exact C formats to any stream.
#pragma once

#include <string>

namespace iq {

// Formats like snprintf, with no length limit.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace iq
