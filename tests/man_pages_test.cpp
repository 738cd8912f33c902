// Every tool has a manual page with the sections a user looks for, and groff renders each
// without a warning.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.hpp"

namespace iq {
namespace {

const std::filesystem::path kSourceRoot = std::filesystem::path(__FILE__).parent_path().parent_path();

std::vector<std::string> tool_names() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kSourceRoot / "tools")) {
    if (std::filesystem::exists(entry.path() / "main.cpp")) names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(ManPagesTest, EveryToolHasAPageWithItsSections) {
  const auto names = tool_names();
  ASSERT_GE(names.size(), 15u);
  for (const std::string& name : names) {
    const std::string page = (kSourceRoot / "man" / (name + ".1")).string();
    ASSERT_TRUE(test::exists(page)) << page;
    const std::string text = test::read_text(page);
    for (const char* section : {".SH NAME", ".SH SYNOPSIS", ".SH DESCRIPTION", ".SH OUTPUT", ".SH CONSOLE",
                                ".SH EXIT STATUS", ".SH EXAMPLE", ".SH SEE ALSO"}) {
      EXPECT_NE(text.find(section), std::string::npos) << name << ": " << section;
    }
    EXPECT_NE(text.find(".B " + name + "\n"), std::string::npos) << name << ": synopsis";
  }
}

TEST(ManPagesTest, EveryPageRendersWithoutWarnings) {
  if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "groff is not installed";
  for (const std::string& name : tool_names()) {
    const std::string page = (kSourceRoot / "man" / (name + ".1")).string();
    const auto result = test::run_program("groff -man -ww -z '" + page + "'");
    EXPECT_EQ(result.status, 0) << name;
    EXPECT_EQ(result.out, "") << name;  // warnings and errors
  }
}

}  // namespace
}  // namespace iq
