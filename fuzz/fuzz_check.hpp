// The check of a property inside a fuzz target: a failed check ends the run as a crash, which
// libFuzzer reports together with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace iq::fuzz {

inline void check(bool condition, const std::string& what) {
  if (!condition) {
    std::fprintf(stderr, "property failed: %s\n", what.c_str());
    std::abort();
  }
}

}  // namespace iq::fuzz
