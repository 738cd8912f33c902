// SPDX-License-Identifier: MIT
// Safe creation of a tool's output: never the same file as an input, never a file that the
// kind of output may not replace, every write checked, and a regular file replaced only when
// the whole table has been written.
//
// The program declares what it writes (OutputKind), which decides what an existing regular
// file of that name may be: a table replaces text only, never a capture (binary data in its
// first 4 KiB, or a capture's name: .bin, .cu8, .raw, .sigmf-data, .sigmf-meta), so that two
// swapped names on a command line never turn a recording into a table.
//
// A regular-file output is written to a temporary file beside it and renamed into place by
// commit(), so an interrupted or failed run leaves the previous file of that name untouched
// and no truncated table. A character device or FIFO (a terminal, /dev/stdout, /dev/null) is
// written directly. A live stream's table is put in place early by publish(): the previous
// file is then replaced at once by the new one, never mixed with it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/capture_reader.hpp"

namespace iq {

// Bytes that an unprivileged writer may still add on the file system where a file named `path`
// would be created (its folder's file system); nothing when that cannot be told.
std::optional<std::int64_t> free_bytes_beside(const std::string& path);

// What a program writes, declared when it creates an output: the existing files it may replace.
class OutputKind {
 public:
  // Text: replaces text, never a capture.
  static OutputKind table() { return OutputKind(What::kTable, 0); }
  // A PNG or SVG picture: replaces what a table replaces, and a PNG picture.
  static OutputKind picture() { return OutputKind(What::kPicture, 0); }
  // Data for the pulsar software (a SIGPROC file): replaces what a table replaces, and such a file.
  static OutputKind pulsar_data() { return OutputKind(What::kPulsarData, 0); }
  // A capture's SigMF metadata (JSON text, named .sigmf-meta): replaces text only.
  static OutputKind capture_metadata() { return OutputKind(What::kMetadata, 0); }
  // A capture: replaces only a file of at most `largest_replaced` bytes, whatever it holds.
  static OutputKind capture(std::int64_t largest_replaced) { return OutputKind(What::kCapture, largest_replaced); }

  // Why the existing regular file `path` of `size` bytes (a symbolic link to `target`) may not
  // be replaced by this kind of output, or nothing.
  std::optional<std::string> refusal(const std::string& path, const std::string& target, std::int64_t size) const;

 private:
  enum class What { kTable, kPicture, kPulsarData, kMetadata, kCapture };
  OutputKind(What what, std::int64_t largest_replaced) : what_(what), largest_replaced_(largest_replaced) {}
  What what_;
  std::int64_t largest_replaced_;
};

// Throws the ToolError that OutputFile would throw for an existing `path` that `kind` may not
// replace, creating nothing: for a program that knows its output's name long before it writes
// it, so that the refusal comes before the long run.
void check_replaceable(const std::string& path, OutputKind kind = OutputKind::table());

class OutputFile {
 public:
  // Creates the output. Throws ToolError when `path` names the same file as one of `inputs`,
  // or an existing file that `kind` may not replace, or when it cannot be created. Nothing
  // exists of the output before these checks have passed.
  OutputFile(std::string path, std::initializer_list<FileId> inputs, OutputKind kind = OutputKind::table());
  // Writes to the program's standard output as it is (a pipe, or a file the shell opened): it
  // is not checked, replaced or renamed; `name` stands for it in messages.
  static OutputFile standard_output(std::string name);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Discards the temporary file if commit() was not reached.
  ~OutputFile();

  void write(std::string_view bytes) {
    if (bytes.size() > kBufferBytes - buffer_.size()) flush();
    if (bytes.size() >= kBufferBytes) {
      write_fully(bytes);
    } else {
      buffer_.append(bytes);
    }
  }
  void write(const std::uint8_t* bytes, std::size_t count) {
    write(std::string_view(reinterpret_cast<const char*>(bytes), count));
  }

  // Writes what is buffered now.
  void flush();

  // Puts the output in place under its name at once instead of at commit: the temporary file
  // replaces any previous file of that name whole, and every later flush goes straight to it.
  // For a table that grows while a live stream lasts: what has been flushed can be read at
  // every moment and stays there whenever the run stops.
  void publish();

  // Writes what is buffered, closes the file and moves it into place. Throws ToolError when
  // any of it fails (a full disk, a write error); the previous file is then left as it was.
  void commit();

  const std::string& path() const { return path_; }

 private:
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 18;
  OutputFile(int fd, std::string name);
  void move_into_place();
  void write_fully(std::string_view bytes);
  [[noreturn]] void fail_write(int errnum);

  std::string path_;        // the name the user gave
  std::string final_path_;  // where the file ends up (a symbolic link's target)
  std::string temp_path_;   // empty when writing directly
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace iq
