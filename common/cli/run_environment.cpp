// SPDX-License-Identifier: MIT
// The run's vector target and thread count, from the environment.
#include "cli/run_environment.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <string>
#include <thread>

#include "dsp/chunk_workers.hpp"
#include "dsp/target_request.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// The names of Highway's targets on x86 and ARM: the same list on every processor, so that a
// setting that suits one machine is not refused on another.
constexpr std::array<std::string_view, 12> kTargetNames = {
    "scalar", "emu128", "ssse3", "sse4", "avx2", "avx3", "avx3_dl", "neon", "sve", "sve2", "sve_256", "sve2_128"};

std::string lower(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

bool is_target_name(std::string_view name) {
  const std::string wanted = lower(name);
  return std::find(kTargetNames.begin(), kTargetNames.end(), wanted) != kTargetNames.end();
}

void apply_simd(const char* simd) {
  if (simd == nullptr || *simd == '\0') return;
  if (!is_target_name(simd)) {
    std::string names;
    for (const std::string_view name : kTargetNames) names += (names.empty() ? "" : ", ") + std::string(name);
    throw ToolError("IQTOOLS_SIMD '" + std::string(simd) + "' must be one of " + names + " (any case)");
  }
  request_vector_target(simd);  // a target this processor cannot run leaves the choice as it is
}

// A whole number from 1, as strtol reads it (leading blanks and a sign allowed); above the
// cores it gives the cores.
void apply_threads(const char* threads) {
  const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
  if (threads == nullptr || *threads == '\0') {
    set_worker_thread_count(cores);
    return;
  }
  char* end = nullptr;
  const long value = std::strtol(threads, &end, 10);
  if (end == threads || *end != '\0' || value < 1) {
    throw ToolError("IQTOOLS_THREADS '" + std::string(threads) + "' must be a whole number of 1 or more");
  }
  set_worker_thread_count(static_cast<unsigned>(std::min<long>(value, cores)));
}

}  // namespace

void apply_run_environment(const char* simd, const char* threads) {
  apply_simd(simd);
  apply_threads(threads);
}

void apply_run_environment() {
  apply_run_environment(std::getenv("IQTOOLS_SIMD"), std::getenv("IQTOOLS_THREADS"));
}

}  // namespace iq
