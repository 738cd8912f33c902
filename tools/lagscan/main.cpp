// SPDX-License-Identifier: MIT
#include "lagscan.hpp"
#include "cli/tool_main.hpp"

int main(int argc, char** argv) { return iq::tool_main(argc, argv, iq::run_lagscan); }
