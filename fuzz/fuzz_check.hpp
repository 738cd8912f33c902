// SPDX-License-Identifier: MIT
// The check of a property inside a fuzz target: a failed check ends the run as a crash, which
// libFuzzer reports together with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace iq::fuzz {

inline void check(bool condition, const std::string& what) {
  if (!condition) {
    std::fprintf(stderr, "property failed: %s\n", what.c_str());
    std::abort();
  }
}

// Makes a fresh folder under the temporary folder, removed when the fuzzer exits, and returns
// its path. A target makes one, in LLVMFuzzerInitialize.
inline std::string make_scratch_folder(const std::string& prefix) {
  static std::string folder;
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  check(::mkdtemp(pattern.data()) != nullptr, "cannot make the scratch folder");
  folder = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  return folder;
}

}  // namespace iq::fuzz
