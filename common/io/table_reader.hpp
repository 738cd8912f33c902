// SPDX-License-Identifier: MIT
// Reading a text table line by line, for every program that reads the tables the tools write:
// the table is opened once (after the input policy), its identity kept so that no output
// replaces it, and binary data (a capture given by mistake) refused before any line is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/capture_reader.hpp"

namespace iq {

class TableReader {
 public:
  // Opens the table `path` whose lines are at most `max_line` characters long. Throws ToolError
  // when the input policy refuses it, when it cannot be opened, or when its first 4 KiB are
  // binary data.
  explicit TableReader(std::string path, std::size_t max_line = kDefaultMaxLine);
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;
  ~TableReader();

  const std::string& path() const { return path_; }
  FileId id() const { return id_; }

  // The next line without its end ("\n", or "\r\n"); false after the last one. Throws
  // ToolError when a read fails or the line is longer than max_line.
  bool next_line(std::string& line);
  // The number of the line that next_line gave last, from 1.
  std::int64_t line_number() const { return line_number_; }
  // Goes back to the first line.
  void rewind();

  static constexpr std::size_t kDefaultMaxLine = 4096;

 private:
  bool refill();

  std::string path_;
  std::size_t max_line_;
  int fd_ = -1;
  FileId id_;
  std::vector<char> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool at_eof_ = false;
  std::int64_t line_number_ = 0;
};

}  // namespace iq
