// SPDX-License-Identifier: MIT
// Helpers for tests.
#include "test_support.hpp"

#include "dsp/vector_target.hpp"

#include <sys/wait.h>
#include <unistd.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace iq::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "iqtools-test-XXXXXX").string();
  root_ = ::mkdtemp(pattern.data());
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> random_bytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() >> 24);
  return bytes;
}

std::string read_text(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

void write_constant(const std::string& path, std::size_t count, std::uint8_t value) {
  write_bytes(path, std::vector<std::uint8_t>(count, value));
}

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

RunResult run_program(const std::string& command_line) {
  RunResult result;
  FILE* pipe = ::popen((command_line + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

RunResult run_tool(ToolFunction* tool, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = tool(args, out, err);
  return {status, out.str(), err.str()};
}

void for_each_vector_target(const std::function<void(const std::string&)>& check) {
  const std::string before = vector_target();
  for (const std::string& name : vector_targets_available()) {
    if (!pin_vector_target(name)) ADD_FAILURE() << "cannot pin " << name;
    check(name);
  }
  pin_vector_target(before);
}

}  // namespace iq::test
