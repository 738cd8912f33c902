// Helpers for tests.
#include "test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace iq::test {

ScratchDir::ScratchDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "iqtools-test-" + std::to_string(::getpid());
  if (info != nullptr) name += std::string("-") + info->test_suite_name() + "-" + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  root_ = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_constant(const std::string& path, std::size_t count, std::uint8_t value) {
  write_bytes(path, std::vector<std::uint8_t>(count, value));
}

std::vector<std::uint8_t> random_bytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() >> 24);
  return bytes;
}

std::string read_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool exists(const std::string& path) { return std::filesystem::exists(path); }

RunResult run_tool(ToolFunction* tool, const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  RunResult result;
  result.status = tool(args, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::string program(const std::string& name) {
  const char* emulator = std::getenv("IQTOOLS_EMULATOR");
  std::string command = emulator != nullptr && *emulator != '\0' ? std::string(emulator) + " " : "";
  return command + IQTOOLS_BIN_DIR + "/" + name;
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

}  // namespace iq::test
