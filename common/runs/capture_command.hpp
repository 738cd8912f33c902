// SPDX-License-Identifier: MIT
// The launchers' pipeline: run a capture program's command line, find the capture file named
// in it, and write the averaged power spectrum of that file to a table named after it.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/command.hpp"
#include "time/clock.hpp"

namespace iq {

// The capture file named in a capture command: the first word after the program name, from
// the first blank up to the next blank or the end of the command. Empty when the command has
// no blank or two blanks in a row follow the program name.
std::string ext_bin(std::string_view command);

// The table name for a capture file: the capture's last path component up to its first full
// stop, followed by ".txt" (cap.2024.bin gives cap.txt, ./data.bin ./data.txt, a name without
// a full stop gets ".txt" appended). The folders before it are kept as given.
std::string ext_txt(std::string_view binfile);

// What tells the two launchers' pipelines apart.
struct CaptureSpectrumRules {
  std::string_view tool;
  std::int32_t max_points;
  // Frames are counted from the length plus one (a capture one byte short of a whole number
  // of frames still yields its last frame) or from the length itself.
  bool count_length_plus_one;
  const char* byte_count_format;  // printf format taking the length and the frame count
};

// The point count of a launcher whose largest is `most` (`range` says "a power of two from 1 to
// <most>"): above it the launcher prints "Too many FFT points" and a newline.
constexpr Parameter capture_points_parameter(std::int32_t most, std::string_view range) {
  return points_parameter("No FFT points", most, range, "Too many FFT points\n");
}

// The capture file and the table named after it, worked out from the command before it runs.
struct CaptureNames {
  std::string binfile;
  std::string textfile;
};
CaptureNames capture_names(std::string_view command);

// Why `word`, taken from a capture command by ext_bin, cannot name the capture the command
// writes ("it is empty ..."): it is empty, holds a character the command processor acts on ("~/cap.bin",
// "$DIR/cap.bin", "'cap.bin'", "cap.bin;"), or has no full stop (the "60" of "timeout 60
// iqgrab cap.bin"). Empty when it can.
std::string capture_name_fault(std::string_view word);

// Refuses, before the command runs, a command whose word after the program's name is an
// option ("iqsim --seconds 0.1 x.bin") or cannot name a capture (capture_name_fault): the
// launcher would look for a file that the command never writes. ToolError naming the word and
// why.
void check_capture_command(std::string_view command);

// The spectrum of the capture: prints the byte-count line, writes the table and prints the
// "Infile=" summary. Returns the number of frames transformed. A capture that cannot be opened
// is a ToolError with the console text "Can't open file %s. \n".
std::int64_t capture_spectrum(const std::string& binfile, const std::string& textfile, std::int32_t points,
                              const CaptureSpectrumRules& rules, std::ostream& out);

// Runs the capture command, prints the "Binfile complete" time, the spectrum of the capture
// and the "Finish time" (times of day at `offset_hours`). A command that fails (exit status
// other than 0) is a ToolError naming its status, and nothing is analysed; so is a capture
// that cannot be opened after the command, and one that holds no whole frame.
void capture_and_analyse(const std::string& command, const CaptureNames& names, std::int32_t points,
                         const CaptureSpectrumRules& rules, std::int64_t offset_hours, Clock& clock,
                         std::ostream& out);

}  // namespace iq
