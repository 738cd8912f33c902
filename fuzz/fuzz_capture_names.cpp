// SPDX-License-Identifier: MIT
// Fuzz target: the capture file name found in a capture command (ext_bin) and the table name
// derived from it (ext_txt), checked against what they promise for any text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "runs/capture_command.hpp"

namespace {

using iq::fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string command(reinterpret_cast<const char*>(data), size);
  const std::string binfile = iq::ext_bin(command);
  const auto blank = command.find(' ');
  if (blank == std::string::npos) {
    check(binfile.empty(), "a command without a blank names a capture");
  } else {
    // The first word after the program name: right after the first blank, no blank in it,
    // ended by a blank or the end of the command.
    check(binfile.find(' ') == std::string::npos, "the capture name holds a blank");
    check(command.compare(blank + 1, binfile.size(), binfile) == 0,
          "the capture name is not after the first blank");
    const auto end = blank + 1 + binfile.size();
    check(end == command.size() || command[end] == ' ', "the capture name stops early");
  }

  const std::string textfile = iq::ext_txt(binfile);
  check(textfile.size() >= 4 && textfile.compare(textfile.size() - 4, 4, ".txt") == 0,
        "the table name lacks .txt");
  const std::string_view stem(textfile.data(), textfile.size() - 4);
  check(binfile.compare(0, stem.size(), stem) == 0, "the table name is not a prefix of the capture name");
  const auto slash = stem.rfind('/');
  const auto last = stem.substr(slash == std::string_view::npos ? 0 : slash + 1);
  check(last.find('.') == std::string_view::npos, "the table name keeps a full stop of the file name");
  check(stem.size() == binfile.size() || binfile[stem.size()] == '.', "the table name cuts before no full stop");
  check(iq::capture_names(command).textfile == textfile, "capture_names differs from ext_bin and ext_txt");
  return 0;
}
