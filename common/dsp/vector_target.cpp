// SPDX-License-Identifier: MIT
// The choice of vector target: Highway's run-time choice, or the one a run pins.
#include "dsp/vector_target.hpp"

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <algorithm>
#include <atomic>
#include <cctype>

#include "dsp/target_request.hpp"

namespace iq {

namespace {

constexpr std::string_view kScalar = "scalar";

std::string lower(std::string_view name) {
  std::string result(name);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

std::atomic<bool> kernels_on{true};
std::atomic<std::int64_t> pinned_target{0};  // 0: Highway's own choice

// The targets this processor runs and this build holds, whatever is pinned.
std::vector<std::int64_t> own_targets() {
  hwy::SetSupportedTargetsForTest(0);
  std::vector<std::int64_t> targets = hwy::SupportedAndGeneratedTargets();
  if (pinned_target != 0) hwy::SetSupportedTargetsForTest(pinned_target);
  return targets;
}

}  // namespace

bool vector_kernels_on() { return kernels_on; }

std::int64_t vector_target_bit() {
  if (!vector_kernels_on()) return 0;
  const std::int64_t targets = hwy::SupportedTargets() & HWY_TARGETS;
  return targets & -targets;
}

std::string vector_target() {
  const std::int64_t bit = vector_target_bit();
  return bit == 0 ? std::string(kScalar) : std::string(hwy::TargetName(bit));
}

std::vector<std::string> vector_targets_available() {
  std::vector<std::string> names;
  for (const std::int64_t target : own_targets()) names.push_back(lower(hwy::TargetName(target)));
  names.emplace_back(kScalar);
  return names;
}

bool pin_vector_target(std::string_view name) {
  const std::string wanted = lower(name);
  if (wanted == kScalar) {
    kernels_on = false;
    return true;
  }
  for (const std::int64_t target : own_targets()) {
    if (lower(hwy::TargetName(target)) == wanted) {
      pinned_target = target;
      hwy::SetSupportedTargetsForTest(target);
      kernels_on = true;
      return true;
    }
  }
  return false;
}

// A run's request (target_request.hpp) reaches the kernels through this pin, registered when
// this file is part of the program.
const bool kPinRegistered = register_target_pin(&pin_vector_target);

}  // namespace iq
