// SPDX-License-Identifier: MIT
// Fuzz target: every tool's whole run, in-process, with a random argument list and a small
// random capture. The first input byte picks the tool; the rest gives the capture (length and
// content rule) and the arguments.
//
// Safety: every file argument is drawn from a fixed set of names in a scratch folder (the
// capture, a second capture, a table, a folder, a missing name, links to the capture, /dev/null,
// /dev/full), never from fuzzed text. The launchers' capture commands name such a capture as
// their first word, and this target replaces run_command: no command processor is ever
// started, with fuzzed text or any other. Arguments that only set how much is written
// (iqdump's and iqtrim's block counts, lagscan's work, iqsim's sample count) are bounded so
// that one run stays short.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "alarmexec.hpp"
#include "cli/arguments.hpp"
#include "runs/capture_command.hpp"
#include "time/clock.hpp"
#include "cyclebin.hpp"
#include "cyclefold.hpp"
#include "cyclesearch.hpp"
#include "cyclestack.hpp"
#include "grabspec.hpp"
#include "iqdump.hpp"
#include "iqsim.hpp"
#include "iqspec.hpp"
#include "iqtrim.hpp"
#include "iqwaterfall.hpp"
#include "lagscan.hpp"
#include "levelhist.hpp"
#include "modspec.hpp"
#include "powtrace.hpp"
#include "cli/run_command.hpp"
#include "io/text_format.hpp"
#include "speccal.hpp"
#include "timedgrab.hpp"

namespace iq {

// Stands in for the library's run_command in this program: the capture is already in place,
// and nothing is handed to a command processor.
int run_command(const std::string& /*command*/, std::ostream& out) {
  out.flush();
  return 0;
}

}  // namespace iq

namespace {

using iq::fuzz::check;

std::string g_dir;  // the scratch folder, made once

std::string in_dir(const std::string& name) { return g_dir + "/" + name; }

// A clock that jumps to every second slept for, starting from a fuzzed time.
class JumpingClock final : public iq::Clock {
 public:
  explicit JumpingClock(std::int64_t start) : t_(start) {}
  std::int64_t now() override { return t_; }
  void sleep_until(std::int64_t second) override { t_ = second > t_ ? second : t_ + 1; }

 private:
  std::int64_t t_;
};

enum class Slot { text, input, output, command, table };

struct ToolEntry {
  const char* name;
  std::vector<Slot> slots;
  std::vector<const char*> options{};  // each takes a value
};

constexpr Slot T = Slot::text, I = Slot::input, O = Slot::output, C = Slot::command, S = Slot::table;

const std::array<ToolEntry, 17> kTools = {{
    {"iqspec", {I, O, T}},
    {"levelhist", {I, O}},
    {"iqdump", {I, O, T, T}},
    {"powtrace", {I, O, T, T, T}},
    {"modspec", {I, O, T, T, T}},
    {"cyclefold", {I, O, T, T, T, T}},
    {"cyclestack", {I, O, T, T, T}},
    {"cyclebin", {I, O, T, T, T, T}},
    {"lagscan", {I, I, O, T, T}},
    {"iqtrim", {I, O, T, T}},
    {"grabspec", {C, T}},
    {"timedgrab", {C, T, T, T, T, T}},
    {"alarmexec", {T, T, T, T}},
    {"iqsim", {O}},
    {"iqwaterfall", {I, O, T, T}, {"--rate", "--centre", "--center", "--start"}},
    {"cyclesearch", {I, O, T, T, T, T, T}, {"--subints", "--threshold", "--profile"}},
    {"speccal", {S, S, O}, {"--baseline", "--line"}},
}};

const std::array<const char*, 6> kInputs = {"cap.bin",     "cap2.bin", "folder",
                                            "missing.bin", "link.bin", "/dev/null"};
const std::array<const char*, 9> kOutputs = {"out.txt", "out.txt",         "cap.bin",   "hard.bin", "link.bin",
                                             "folder",  "missing/out.txt", "/dev/full", "/dev/null"};
// Spectrum tables made from the capture (speccal's inputs), a capture, a missing name.
const std::array<const char*, 4> kTables = {"on.txt", "off.txt", "cap.bin", "missing.txt"};
// First words of a capture command: a capture, one whose table name is its own name, a
// folder, a missing file.
const std::array<const char*, 4> kCommandCaptures = {"cap.bin", "cap.txt", "folder", "missing.bin"};

const std::array<const char*, 28> kSpecialTexts = {
    "0",           "1",    "-1",    "2",     "3",      "7",      "100",    "1192",   "1193",       "4096",
    "4097",        "8191", "8192",  "8193",  "131072", "131073", "262144", "262145", "2147483647", "-2147483648",
    "99999999999", "2.4",  "0.001", "1e308", "-0",     "nan",    "inf",    " 12abc"};

std::string numeric_text(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      return input.ConsumeRandomLengthString(24);
    case 1:
      return std::to_string(input.ConsumeIntegralInRange<int>(-4, 70000));
    case 2:
      return std::to_string(input.ConsumeIntegral<std::int32_t>());
    case 3:
      return iq::cformat("%.9g", input.ConsumeFloatingPointInRange<double>(-1e4, 1e4));
    default:
      return input.PickValueInArray(kSpecialTexts);
  }
}

// Texts for iqsim's options: numbers only.
std::string option_value(FuzzedDataProvider& input) {
  std::string text = numeric_text(input);
  for (char& c : text) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e' ||
          c == ',')) {
      c = '1';
    }
  }
  return text;
}

std::vector<std::uint8_t> make_capture(FuzzedDataProvider& input) {
  const auto length = input.ConsumeIntegralInRange<std::size_t>(0, 40000);
  const int rule = input.ConsumeIntegralInRange<int>(0, 3);
  const auto value = input.ConsumeIntegral<std::uint8_t>();
  std::uint32_t state = input.ConsumeIntegral<std::uint32_t>() | 1;
  std::vector<std::uint8_t> bytes(length, value);
  for (std::size_t k = 0; k < length; ++k) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    if (rule == 1) bytes[k] = static_cast<std::uint8_t>(state >> 24);               // noise
    if (rule == 2) bytes[k] = static_cast<std::uint8_t>(value + (k % 2 ? 3 : -3));  // a tone-free pair
    if (rule == 3) bytes[k] = static_cast<std::uint8_t>((state >> 24) % 8 + 124);   // quiet noise
  }
  return bytes;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A spectrum table of up to 64 bins, a byte a bin (0 bins and 0 values included).
void write_spectrum(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const auto bins = static_cast<int>(std::min<std::size_t>(bytes.size(), 64));
  std::string text;
  for (int k = 0; k < bins; ++k) text += iq::cformat("%d    %.3f\n", k - bins / 2, bytes[k] / 4.0);
  std::ofstream(path, std::ios::trunc) << text;
}

// Lays out the scratch folder afresh: the captures, the links to the first one, a folder.
// Returns the second capture: the first reversed, one byte longer unless `equal_lengths`.
std::vector<std::uint8_t> prepare_files(const std::vector<std::uint8_t>& capture, bool equal_lengths) {
  std::error_code ignored;
  for (const char* name :
       {"cap.bin", "cap2.bin", "cap.txt", "hard.bin", "link.bin", "out.txt", "on.txt", "off.txt"}) {
    std::filesystem::remove(in_dir(name), ignored);
  }
  write_file(in_dir("cap.bin"), capture);
  write_file(in_dir("cap.txt"), capture);
  std::vector<std::uint8_t> second(capture.rbegin(), capture.rend());
  if (!equal_lengths) second.push_back(0x80);
  write_file(in_dir("cap2.bin"), second);
  write_spectrum(in_dir("on.txt"), capture);
  write_spectrum(in_dir("off.txt"), second);
  std::filesystem::create_hard_link(in_dir("cap.bin"), in_dir("hard.bin"), ignored);
  std::filesystem::create_symlink(in_dir("cap.bin"), in_dir("link.bin"), ignored);
  std::filesystem::create_directory(in_dir("folder"), ignored);
  return second;
}

// The number a count argument starts with, held to 32 bits (what the tools accept at most).
std::int64_t leading_count(const std::string& text) {
  return std::clamp<long long>(std::strtoll(text.c_str(), nullptr, 10), INT32_MIN, INT32_MAX);
}

// Runs that would only write more of the same are skipped, so that every run is short.
bool bounded(const std::string& tool, const iq::ToolArgs& args, std::size_t capture_bytes) {
  if (tool == "iqdump" && args.size() == 4) {
    return leading_count(args[3]) - leading_count(args[2]) <= 8;
  }
  if (tool == "iqtrim" && args.size() == 4) return std::strtoll(args[2].c_str(), nullptr, 10) <= 8;
  if (tool == "iqsim") {  // an early receiver first runs through |delay| samples of the sky
    for (std::size_t k = 0; k + 1 < args.size(); ++k) {
      const std::int64_t delay = std::strtoll(args[k + 1].c_str(), nullptr, 10);
      if (args[k] == "--delay" && (delay > 100000 || delay < -100000)) return false;
    }
  }
  if (tool == "cyclesearch" && args.size() >= 7) {  // a search costs bins x trials at least
    return std::llabs(leading_count(args[3])) * std::llabs(leading_count(args[6])) <= 200000;
  }
  if (tool == "lagscan" && args.size() == 5) {
    const std::int64_t pairs =
        std::min<std::int64_t>(static_cast<std::int64_t>(capture_bytes) / 32768, leading_count(args[4]) / 2);
    return pairs <= 0 || leading_count(args[3]) <= 512;
  }
  return true;
}

// Up to three of the tool's options, each with a value; the profile of cyclesearch is always
// an output of the fixed set.
void add_options(FuzzedDataProvider& input, const ToolEntry& tool, iq::ToolArgs& args) {
  if (tool.options.empty()) return;
  const int count = input.ConsumeIntegralInRange<int>(0, 3);
  for (int k = 0; k < count; ++k) {
    const std::string option = tool.options[input.ConsumeIntegralInRange<std::size_t>(0, tool.options.size() - 1)];
    args.push_back(option);
    if (option == "--profile") {
      const std::string name = input.PickValueInArray(kOutputs);
      args.push_back(name[0] == '/' ? name : in_dir(name));
    } else if (option == "--line") {
      args.push_back(numeric_text(input) + ":" + numeric_text(input));
    } else {
      args.push_back(numeric_text(input));
    }
  }
}

iq::ToolArgs make_args(FuzzedDataProvider& input, const ToolEntry& tool) {
  iq::ToolArgs args;
  if (std::string(tool.name) == "iqsim") {
    static const std::array<const char*, 14> kOptions = {"-r",
                                                         "--rate",
                                                         "-s",
                                                         "--seed",
                                                         "--noise",
                                                         "--tone",
                                                         "--pulse-period",
                                                         "--pulse-duty",
                                                         "--pulse-strength",
                                                         "--pulse-phase",
                                                         "--delay",
                                                         "--rx-noise",
                                                         "--rx-seed",
                                                         "-h"};
    if (input.ConsumeIntegralInRange<int>(0, 7) != 0) args.push_back(in_dir(input.PickValueInArray(kOutputs)));
    const int options = input.ConsumeIntegralInRange<int>(0, 6);
    // Every option but -h is followed by its value, so that no value can stand where iqsim
    // takes the capture's name.
    for (int k = 0; k < options; ++k) {
      args.push_back(input.PickValueInArray(kOptions));
      if (args.back() != "-h") args.push_back(option_value(input));
    }
    // The length is always set here, last, and short.
    args.push_back("-n");
    args.push_back(std::to_string(input.ConsumeIntegralInRange<int>(0, 20000)));
    return args;
  }
  // Mostly the tool's own argument count, sometimes one or two fewer or more.
  const int delta = input.ConsumeIntegralInRange<int>(0, 15);
  auto count = static_cast<int>(tool.slots.size());
  if (delta == 1) count -= 1;
  if (delta == 2) count += 1;
  if (delta == 3) count -= 2;
  if (delta == 4) count = 0;
  for (int k = 0; k < count; ++k) {
    const Slot slot = k < static_cast<int>(tool.slots.size()) ? tool.slots[k] : Slot::text;
    switch (slot) {
      case Slot::input: {
        const std::string name = input.PickValueInArray(kInputs);
        args.push_back(name[0] == '/' ? name : in_dir(name));
        break;
      }
      case Slot::output: {
        const std::string name = input.PickValueInArray(kOutputs);
        args.push_back(name[0] == '/' ? name : in_dir(name));
        break;
      }
      case Slot::table:
        args.push_back(in_dir(input.PickValueInArray(kTables)));
        break;
      case Slot::command:
        // The capture program's name, the capture, then whatever the fuzzer likes.
        args.push_back("capture " + in_dir(input.PickValueInArray(kCommandCaptures)) + " " +
                       input.ConsumeRandomLengthString(16));
        break;
      case Slot::text:
        args.push_back(numeric_text(input));
        break;
    }
  }
  add_options(input, tool, args);
  return args;
}

int run(const std::string& tool, const iq::ToolArgs& args, std::ostream& out, std::ostream& err,
        iq::Clock& clock) {
  if (tool == "iqspec") return iq::run_iqspec(args, out, err);
  if (tool == "levelhist") return iq::run_levelhist(args, out, err);
  if (tool == "iqdump") return iq::run_iqdump(args, out, err);
  if (tool == "powtrace") return iq::run_powtrace(args, out, err);
  if (tool == "modspec") return iq::run_modspec(args, out, err);
  if (tool == "cyclefold") return iq::run_cyclefold(args, out, err);
  if (tool == "cyclestack") return iq::run_cyclestack(args, out, err);
  if (tool == "cyclebin") return iq::run_cyclebin(args, out, err);
  if (tool == "lagscan") return iq::run_lagscan(args, out, err);
  if (tool == "iqtrim") return iq::run_iqtrim(args, out, err);
  if (tool == "grabspec") return iq::run_grabspec(args, out, err, clock);
  if (tool == "timedgrab") return iq::run_timedgrab(args, out, err, clock);
  if (tool == "alarmexec") return iq::run_alarmexec(args, out, err, clock);
  if (tool == "iqwaterfall") return iq::run_iqwaterfall(args, out, err);
  if (tool == "cyclesearch") return iq::run_cyclesearch(args, out, err);
  if (tool == "speccal") return iq::run_speccal(args, out, err);
  return iq::run_iqsim(args, out, err);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  ::setenv("IQTOOLS_THREADS", "1", 0);  // one thread: runs stay cheap and repeatable
  g_dir = iq::fuzz::make_scratch_folder("iqtools-fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const ToolEntry& tool = kTools[data[0] % kTools.size()];
  FuzzedDataProvider input(data + 1, size - 1);
  const std::vector<std::uint8_t> capture = make_capture(input);
  const std::vector<std::uint8_t> second = prepare_files(capture, input.ConsumeIntegralInRange<int>(0, 7) != 0);
  JumpingClock clock(input.ConsumeIntegralInRange<std::int64_t>(-100000, 8000000000));
  const iq::ToolArgs args = make_args(input, tool);
  if (!bounded(tool.name, args, capture.size())) return 0;

  if (std::getenv("IQTOOLS_FUZZ_SHOW") != nullptr) {  // to see what a saved input runs
    std::fprintf(stderr, "%s", tool.name);
    for (const auto& arg : args) std::fprintf(stderr, " '%s'", arg.c_str());
    std::fprintf(stderr, " (capture of %zu bytes)\n", capture.size());
  }
  std::ostringstream out;
  std::ostringstream err;
  const int status = run(tool.name, args, out, err, clock);
  check(status == 0 || status == 1, std::string(tool.name) + " returned status " + std::to_string(status));
  // A failed run leaves no temporary file behind.
  for (const auto& entry : std::filesystem::directory_iterator(g_dir)) {
    check(entry.path().filename().string().find(".partial-") == std::string::npos,
          std::string(tool.name) + " left " + entry.path().string());
  }
  // An input is never changed by the run that reads it: an output that names it is refused.
  for (std::size_t k = 0; k < args.size() && k < tool.slots.size(); ++k) {
    std::string path = tool.slots[k] == Slot::input ? args[k] : "";
    if (tool.slots[k] == Slot::command) path = iq::ext_bin(args[k]);
    if (path.empty() || path[0] != '/' || path.rfind("/dev/", 0) == 0) continue;
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) continue;  // a folder or a missing name
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string name = std::filesystem::path(path).filename().string();
    check(kept == (name == "cap2.bin" ? second : capture), std::string(tool.name) + " changed its input " + path);
  }
  return 0;
}
