// SPDX-License-Identifier: MIT
// Reading a text table line by line.
#include "io/table_reader.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "io/file_kind.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// Always more than the longest line and its end, so that a line too long is seen as one.
constexpr std::size_t kBufferBytes = std::size_t{1} << 16;

}  // namespace

TableReader::TableReader(std::string path, std::size_t max_line)
    : path_(std::move(path)), max_line_(max_line), buffer_(std::max({kBufferBytes, kSniffBytes, max_line + 2})) {
  struct stat info {};
  std::string why;
  fd_ = open_input(path_, info, why);
  if (fd_ < 0) throw ToolError("Can't open table " + path_ + ": " + why);
  id_ = FileId{info.st_dev, info.st_ino};
  // The first fill holds the first 4 KiB, or all there is of a shorter file.
  while (end_ < kSniffBytes && refill()) {
  }
  const std::string_view head(buffer_.data(), std::min(end_, kSniffBytes));
  if (looks_binary(head)) {
    throw ToolError(path_ + " is not a table: it holds binary data, like a capture (it starts \"" +
                    quoted_start(head) + "\")");
  }
}

TableReader::~TableReader() {
  if (fd_ >= 0) ::close(fd_);
}

// Moves the unread bytes to the buffer's start and appends what the next read gives; false at
// the end of the file.
bool TableReader::refill() {
  if (pos_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  while (!at_eof_ && end_ < buffer_.size()) {
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) {
      at_eof_ = true;
    } else if (errno != EINTR) {
      throw ToolError(system_error_text("Can't read table " + path_, errno));
    }
  }
  return false;
}

bool TableReader::next_line(std::string& line) {
  std::size_t scanned = 0;
  while (true) {
    const char* start = buffer_.data() + pos_;
    const auto* newline = static_cast<const char*>(std::memchr(start + scanned, '\n', end_ - pos_ - scanned));
    const std::size_t length = newline != nullptr ? static_cast<std::size_t>(newline - start) : end_ - pos_;
    if (length > max_line_ + 1 || (length == max_line_ + 1 && start[max_line_] != '\r')) {
      throw ToolError(path_ + " is not a table: line " + std::to_string(line_number_ + 1) + " is longer than " +
                      std::to_string(max_line_) + " characters");
    }
    if (newline == nullptr && !at_eof_) {
      refill();  // moves what is buffered to the buffer's start: `start` is found again
      scanned = length;
      continue;
    }
    if (newline == nullptr && length == 0) return false;
    line.assign(start, length);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos_ += length + (newline != nullptr ? 1 : 0);
    ++line_number_;
    return true;
  }
}

void TableReader::rewind() {
  if (::lseek(fd_, 0, SEEK_SET) < 0) throw ToolError(system_error_text("Can't read table " + path_, errno));
  pos_ = end_ = 0;
  at_eof_ = false;
  line_number_ = 0;
}

}  // namespace iq
