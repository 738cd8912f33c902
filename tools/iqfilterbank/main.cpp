// SPDX-License-Identifier: MIT
#include "iqfilterbank.hpp"
#include "cli/tool_main.hpp"

int main(int argc, char** argv) { return iq::tool_main(argc, argv, iq::run_iqfilterbank); }
