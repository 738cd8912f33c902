// SPDX-License-Identifier: MIT
// The run's settings from the environment: which values pin the vector target and cap the
// threads (the refusals and a tool's run of them are in the golden corpus).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "cli/run_environment.hpp"
#include "dsp/chunk_workers.hpp"
#include "dsp/vector_target.hpp"
#include "io/tool_error.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

// Puts the target and thread count back as they were when the test began.
struct SettingsKept {
  std::string target = vector_target();
  ~SettingsKept() {
    pin_vector_target(target);
    set_worker_thread_count(0);
  }
};

std::string lower(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

std::string refusal(const char* simd, const char* threads) {
  try {
    apply_run_environment(simd, threads);
  } catch (const ToolError& failure) {
    return failure.what();
  }
  return "";
}

TEST(RunEnvironment, SimdPinsANamedTargetInAnyCaseAndKeepsTheChoiceOtherwise) {
  const SettingsKept kept;
  const std::string best = vector_targets_available().front();
  std::string upper = best;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  // A value, and the target that runs after it (from the best one).
  std::vector<std::pair<std::string, std::string>> cases = {
      {"scalar", "scalar"}, {"SCALAR", "scalar"}, {upper, best}, {"", best}};
  // The names of targets this processor does not run leave the best one, as they always did.
  const std::vector<std::string> own = vector_targets_available();
  for (const std::string name : {"ssse3", "avx3_dl", "neon", "sve2_128"}) {
    if (std::find(own.begin(), own.end(), name) == own.end()) cases.emplace_back(name, best);
  }
  for (const auto& [value, expected] : cases) {
    pin_vector_target(best);
    ASSERT_EQ(refusal(value.c_str(), nullptr), "") << value;
    EXPECT_EQ(lower(vector_target()), expected) << value;
  }
  pin_vector_target("scalar");
  ASSERT_EQ(refusal(nullptr, nullptr), "");
  EXPECT_EQ(vector_target(), "scalar") << "unset";
}

TEST(RunEnvironment, ThreadsTakeWholeNumbersFromOneCappedByTheCores) {
  const SettingsKept kept;
  const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
  const std::vector<std::pair<const char*, unsigned>> cases = {
      {"1", 1},         {"+1", 1},  {" 1", 1}, {"2", std::min(2u, cores)}, {"99999999999999999999", cores},
      {nullptr, cores}, {"", cores}};
  for (const auto& [value, expected] : cases) {
    set_worker_thread_count(1 + cores);
    ASSERT_EQ(refusal(nullptr, value), "") << (value ? value : "unset");
    EXPECT_EQ(worker_thread_count(), expected) << (value ? value : "unset");
  }
}

}  // namespace
}  // namespace iq
