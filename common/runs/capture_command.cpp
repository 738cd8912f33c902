// SPDX-License-Identifier: MIT
// The launchers' capture-command pipeline.
#include "runs/capture_command.hpp"

#include <cctype>
#include <utility>

#include "cli/arguments.hpp"
#include "io/capture_reader.hpp"
#include "cli/console_texts.hpp"
#include "io/output_file.hpp"
#include "cli/run_command.hpp"
#include "flow/spectrum_run.hpp"
#include "io/text_format.hpp"
#include "time/time_of_day.hpp"
#include "cli/tool_main.hpp"
#include "io/tool_error.hpp"

namespace iq {

std::string ext_bin(std::string_view command) {
  const auto first_blank = command.find(' ');
  if (first_blank == std::string_view::npos) return {};
  const auto rest = command.substr(first_blank + 1);
  return std::string(rest.substr(0, rest.find(' ')));
}

std::string ext_txt(std::string_view binfile) {
  // Only the last component: a full stop in a folder name or in "./" is no extension.
  const auto slash = binfile.rfind('/');
  const auto name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const auto stop = binfile.find('.', name_start);
  return std::string(binfile.substr(0, stop)) + ".txt";
}

CaptureNames capture_names(std::string_view command) {
  std::string binfile = ext_bin(command);
  std::string textfile = ext_txt(binfile);
  return {std::move(binfile), std::move(textfile)};
}

namespace {

// Characters that the command processor acts on inside a word (expansion, quoting,
// redirection, lists, patterns, comments), and blanks other than the space, which end a word
// there but not in ext_bin.
constexpr std::string_view kShellSyntax = "~$'\"`\\;|&<>*?[]{}()#\t\n\r\v\f";

}  // namespace

std::string capture_name_fault(std::string_view word) {
  if (word.empty()) return "it is empty (the program's name must be followed by one blank and the capture's name)";
  const auto syntax = word.find_first_of(kShellSyntax);
  if (syntax != std::string_view::npos) {
    const char c = word[syntax];
    const std::string shown = std::isprint(static_cast<unsigned char>(c))
                                  ? std::string(1, c)
                                  : cformat("\\x%02x", static_cast<unsigned char>(c));
    return "it holds '" + shown +
           "', which the command processor acts on, so the capture would not be found under that "
           "name; give its plain file name";
  }
  if (word.find('.') == std::string_view::npos) {
    return "it has no full stop, as a capture's name has (cap.bin); a wrapped command (sudo, nice, timeout N) "
           "puts the capture program later: run the launcher itself under it instead";
  }
  return {};
}

void check_capture_command(std::string_view command) {
  const std::string word = ext_bin(command);
  if (!word.empty() && word.front() == '-') {
    throw ToolError("capture command '" + std::string(command) +
                    "': the capture file must follow the program's name (found '" + word +
                    "' there); put the file name first, the options after it");
  }
  const std::string fault = capture_name_fault(word);
  if (!fault.empty()) {
    throw ToolError("capture command '" + std::string(command) +
                    "': the capture file is taken from the first word after the program's name, '" + word +
                    "', but " + fault);
  }
}

std::int64_t capture_spectrum(const std::string& binfile, const std::string& textfile, std::int32_t points,
                              const CaptureSpectrumRules& rules, std::ostream& out) {
  CaptureReader capture = open_capture(binfile, texts::kCantOpenLine);
  require_measurable(capture);
  OutputFile table(textfile, {capture.id()});
  const std::int64_t length = capture.length();
  const std::int64_t frames = ((rules.count_length_plus_one ? length + 1 : length) / points) / 2;
  out << cformat(rules.byte_count_format, static_cast<long long>(length), static_cast<long long>(frames));

  capture.show_progress(frames * 2 * points);
  const SpectrumAccumulator spectrum = accumulate_spectrum(capture, points, frames);
  write_spectrum_table(table, spectrum, frames);
  table.commit();
  out << cformat("\nInfile=%s    Outfile=%s   FFT Points=%ld\n", binfile.c_str(), textfile.c_str(),
                 static_cast<long>(points));
  return frames;
}

namespace {

void print_time_line(const char* format, std::int64_t offset_hours, Clock& clock, std::ostream& out) {
  const TimeOfDay now = time_of_day(clock.now(), offset_hours);
  out << cformat(format, static_cast<long>(now.hour), static_cast<long>(now.minute),
                 static_cast<long>(now.second));
}

}  // namespace

void capture_and_analyse(const std::string& command, const CaptureNames& names, std::int32_t points,
                         const CaptureSpectrumRules& rules, std::int64_t offset_hours, Clock& clock,
                         std::ostream& out) {
  // A table that may not be replaced is refused before the recording, which would be wasted; a
  // table that is the capture itself is refused, as an input, once the capture is read.
  if (file_id(names.textfile) != file_id(names.binfile)) check_replaceable(names.textfile);
  const int status = run_command(command, out);
  if (status != 0) {
    throw ToolError("capture command '" + command + "' failed: " + command_failure(status) +
                    "; no spectrum was made");
  }
  print_time_line("Binfile complete:  %ldhours %ldmins %ldsecs\n", offset_hours, clock, out);
  const std::int64_t frames = capture_spectrum(names.binfile, names.textfile, points, rules, out);
  print_time_line("Finish time:  %ldhours %ldmins %ldsecs\n", offset_hours, clock, out);
  if (frames == 0) no_whole_unit(names.binfile, cformat("frame of %d samples", points));
}

}  // namespace iq
