// Helpers for tests: a scratch folder, capture files, and in-process tool runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_main.hpp"

namespace iq::test {

// A fresh folder per test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
};

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
// A file of `count` bytes, all equal to `value`.
void write_constant(const std::string& path, std::size_t count, std::uint8_t value);
// Deterministic pseudo-random bytes.
std::vector<std::uint8_t> random_bytes(std::size_t count, std::uint32_t seed);
std::string read_text(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);
bool exists(const std::string& path);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a tool's function in-process with string streams for its console.
RunResult run_tool(ToolFunction* tool, const std::vector<std::string>& args);

// The start of a command line that runs the built program `name`: its path in the build, after
// the emulator named by IQTOOLS_EMULATOR when the tests run under one (cross builds).
std::string program(const std::string& name);

// Runs a built program as a separate process; stdout and stderr are captured together in out.
RunResult run_program(const std::string& command_line);

}  // namespace iq::test
