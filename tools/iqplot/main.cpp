#include "iqplot.hpp"
#include "tool_main.hpp"

int main(int argc, char** argv) { return iq::tool_main(argc, argv, iq::run_iqplot); }
