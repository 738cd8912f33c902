// Numeric arguments convert as the C library does; out-of-range values saturate.
#include <gtest/gtest.h>

#include <cstdint>

#include "cli/arguments.hpp"

namespace iq {
namespace {

TEST(Arguments, ConvertLikeTheCLibrary) {
  EXPECT_EQ(atoi32("1024"), 1024);
  EXPECT_EQ(atoi32("  -7xyz"), -7);
  EXPECT_EQ(atoi32("abc"), 0);
  EXPECT_EQ(atoi32(""), 0);
  EXPECT_EQ(atol32("+131073"), 131073);
  EXPECT_EQ(atol32("0x10"), 0);
  EXPECT_EQ(atoll64("17179869184"), 17179869184LL);
  EXPECT_EQ(atof_value("2.4MHz"), 2.4);
  EXPECT_EQ(atof_value("one"), 0.0);
  EXPECT_EQ(atof_value("1e3"), 1000.0);
}

TEST(Arguments, SaturateInsteadOfWrapping) {
  EXPECT_EQ(atol32("4294967297"), INT32_MAX);
  EXPECT_EQ(atoi32("-99999999999"), INT32_MIN);
  EXPECT_EQ(atoll64("99999999999999999999"), INT64_MAX);
}

TEST(Arguments, PowersOfTwo) {
  EXPECT_TRUE(is_power_of_two(1));
  EXPECT_TRUE(is_power_of_two(131072));
  EXPECT_FALSE(is_power_of_two(0));
  EXPECT_FALSE(is_power_of_two(-4));
  EXPECT_FALSE(is_power_of_two(131073));
}

}  // namespace
}  // namespace iq
