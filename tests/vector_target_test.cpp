// SPDX-License-Identifier: MIT
// The choice of vector target: pinning, and tables that do not depend on it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "dsp/vector_target.hpp"
#include "dsp/capture_format.hpp"
#include "iqspec.hpp"
#include "lagscan.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

std::string lower(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

TEST(VectorTarget, EveryAvailableTargetCanBePinnedAndScalarComesLast) {
  const std::vector<std::string> names = vector_targets_available();
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.back(), "scalar");
  test::for_each_vector_target([&](const std::string& name) {
    EXPECT_EQ(lower(vector_target()), name);
    EXPECT_EQ(vector_kernels_on(), name != "scalar") << name;
    EXPECT_EQ(vector_target_bit() == 0, name == "scalar") << name;
  });
}

// The tools' tables are the same bytes on every target and every thread count.
TEST(VectorTarget, TablesAreTheSameOnEveryTargetAndThreadCount) {
  test::ScratchDir dir;
  const std::string capture1 = dir.path("one.bin");
  const std::string capture2 = dir.path("two.bin");
  test::write_bytes(capture1, test::random_bytes(3 * kBlockBytes + 100, 31));
  std::vector<std::uint8_t> delayed = test::random_bytes(3 * kBlockBytes + 100, 31);
  std::rotate(delayed.begin(), delayed.begin() + 50, delayed.end());
  test::write_bytes(capture2, delayed);
  struct Job {
    std::string name;
    ToolFunction* tool;
    std::vector<std::string> args;  // the table is the last-but-one argument for iqspec, third for lagscan
    std::string table;
  };
  const std::string spectrum = dir.path("spectrum.txt");
  const std::string lags = dir.path("lags.txt");
  const std::vector<Job> jobs = {
      {"iqspec 64", run_iqspec, {capture1, spectrum, "64"}, spectrum},
      {"iqspec 4096", run_iqspec, {capture1, spectrum, "4096"}, spectrum},
      {"lagscan 300", run_lagscan, {capture1, capture2, lags, "300", "3"}, lags},
  };
  for (const Job& job : jobs) {
    std::string expected;
    std::string expected_console;
    test::for_each_vector_target([&](const std::string& target) {
      for (const char* threads : {"1", "2", "3"}) {
        ::setenv("IQTOOLS_THREADS", threads, 1);
        const auto result = test::run_tool(job.tool, job.args);
        ::unsetenv("IQTOOLS_THREADS");
        ASSERT_EQ(result.status, 0) << job.name << " " << target << "\n" << result.out << result.err;
        const std::string table = test::read_text(job.table);
        if (expected.empty()) {
          expected = table;
          expected_console = result.out;
        }
        EXPECT_TRUE(table == expected) << job.name << " on " << target << " with " << threads << " threads";
        EXPECT_EQ(result.out, expected_console) << job.name << " on " << target;
      }
    });
  }
}

}  // namespace
}  // namespace iq
