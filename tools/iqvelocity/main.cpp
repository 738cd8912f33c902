// SPDX-License-Identifier: MIT
#include "cli/tool_main.hpp"
#include "iqvelocity.hpp"

int main(int argc, char** argv) { return iq::tool_main(argc, argv, iq::run_iqvelocity); }
