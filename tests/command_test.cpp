// SPDX-License-Identifier: MIT
// The declared command line: where options may stand and which values they take. The refusals
// of numbers, wrong counts, --help and --version are in the golden corpus.
#include <sstream>

#include "cli/command.hpp"
#include "io/tool_error.hpp"
#include "test_support.hpp"

namespace iq {
namespace {

const Command kDemo{
    .tool = "demo",
    .usage = "Format: demo <in> <count>",
    .summary = "A demonstration.",
    .parameters = {{.name = "in"},
                   {.name = "count",
                    .kind = ParameterKind::whole,
                    .least = 1,
                    .most = 4096,
                    .range = "a power of two from 1 to 4096",
                    .power_of_two = true,
                    .above_most_text = "Too many\n"},
                   {.name = "rate", .kind = ParameterKind::number}},
    .options = {{.name = "--rate", .alias = "-r", .argument = "MHZ", .help = "a rate"},
                {.name = "--force", .help = "a flag"},
                {.name = "--velocity", .argument = "MHZ", .help = "maybe a number", .argument_optional = true}},
    .usage_on_console = false,
    .optional_parameters = 1,
};

struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
  std::string seen;  // what the body saw: its count, numbers and options
};

Outcome run_demo(const Command& command, const ToolArgs& args) {
  std::ostringstream out;
  std::ostringstream err;
  Outcome outcome;
  outcome.status = run_program(command, args, out, err, [&](Run& run) {
    outcome.seen = std::to_string(run.whole(1));
    if (run.count() > 2) outcome.seen.append(" ").append(std::to_string(run.number(2)));
    for (const char* name : {"--rate", "--force", "--velocity"}) {
      if (!run.options().has(name)) continue;
      outcome.seen.append(" ").append(name).append("=").append(run.options().value(name).value_or("-"));
    }
    return kExitSuccess;
  });
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

TEST(CommandTest, OptionsStandAnywhereAndNegativeNumbersArePositional) {
  struct Case {
    ToolArgs args;
    int status;
    std::string seen_or_err;
  };
  const std::vector<Case> cases = {
      {{"--rate", "2.4", "x", "8"}, 0, "8 --rate=2.4"},
      {{"x", "-r=1", "8", "-r", "3"}, 1, "demo: unknown option '-r=1'\n"},
      {{"x", "8", "--rate=1", "--rate", "3"}, 0, "8 --rate=3"},
      {{"x", "8", "--force"}, 0, "8 --force=-"},
      {{"x", "8", "--force=1"}, 1, "demo: option --force takes no value\n"},
      {{"x", "8", "--rate"}, 1, "demo: option --rate needs a value\n"},
      {{"x", "8", "--bogus"}, 1, "demo: unknown option '--bogus'\n"},
      {{"x", "-8"}, 1, "demo: count must be a power of two from 1 to 4096 (got '-8')\n"},
      {{"x", "8", "--velocity", "-2.5"}, 0, "8 --velocity=-2.5"},
      {{"x", "8", "--velocity", "z.txt"}, 1, "demo: rate 'z.txt' is not a number (it would be read as 0)\n"},
      {{"x", "--velocity"},
       1,
       "Format: demo <in> <count>\ndemo: wrong number of arguments: 1 given, 2 to 3 needed\n"},
      {{"x", "8", "1", "2"},
       1,
       "Format: demo <in> <count>\ndemo: wrong number of arguments: 4 given, 2 to 3 needed\n"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = run_demo(kDemo, c.args);
    EXPECT_EQ(outcome.status, c.status) << testing::PrintToString(c.args);
    EXPECT_EQ(c.status == 0 ? outcome.seen : outcome.err, c.seen_or_err) << testing::PrintToString(c.args);
  }
}

}  // namespace
}  // namespace iq
