// SPDX-License-Identifier: MIT
// Every tool has a manual page with the sections a user looks for, and groff renders each
// without a warning.
#include <filesystem>

#include "test_support.hpp"

namespace iq {
namespace {

TEST(ManPagesTest, EveryToolHasAPageThatRendersWithoutWarnings) {
  const std::filesystem::path root = std::filesystem::path(__FILE__).parent_path().parent_path();
  const bool groff = std::system("command -v groff >/dev/null 2>&1") == 0;
  int tools = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root / "tools")) {
    if (!std::filesystem::exists(entry.path() / "main.cpp")) continue;
    ++tools;
    const std::string name = entry.path().filename().string(), page = (root / "man" / (name + ".1")).string();
    const std::string text = test::read_text(page);
    for (const std::string& section :
         std::vector<std::string>{".SH NAME", ".SH SYNOPSIS", ".SH DESCRIPTION", ".SH OUTPUT", ".SH CONSOLE",
                                  ".SH EXIT STATUS", ".SH EXAMPLE", ".SH SEE ALSO", ".B " + name + "\n"}) {
      EXPECT_NE(text.find(section), std::string::npos) << name << ": " << section;
    }
    // Warnings and errors go to the console, which must stay empty.
    EXPECT_EQ(groff ? std::system(("test -z \"$(groff -man -ww -z '" + page + "' 2>&1)\"").c_str()) : 0, 0)
        << name;
  }
  EXPECT_GE(tools, 15);
}

}  // namespace
}  // namespace iq
