// Helpers for tests.
#include "test_support.hpp"

#include <stdlib.h>

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
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

bool exists(const std::string& path) { return std::filesystem::exists(path); }

RunResult run_tool(ToolFunction* tool, const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = tool(args, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace iq::test
