// SPDX-License-Identifier: MIT
// What kind of file a name holds.
#include "io/file_kind.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace iq {

namespace {

// The number of continuation bytes a UTF-8 lead byte announces, or -1 for a byte that starts
// no character.
int continuation_count(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

bool is_text_byte(unsigned char byte) { return (byte >= 0x20 && byte < 0x7F) || (byte >= '\t' && byte <= '\r'); }

// The length of the UTF-8 character at `at`, or 0 when the bytes there are none. A character
// cut off by the end of `head` counts as one.
std::size_t utf8_length(std::string_view head, std::size_t at) {
  const int more = continuation_count(static_cast<unsigned char>(head[at]));
  if (more < 0) return 0;
  std::size_t length = 1;
  for (; length <= static_cast<std::size_t>(more) && at + length < head.size(); ++length) {
    const auto byte = static_cast<unsigned char>(head[at + length]);
    if (byte < 0x80 || byte > 0xBF) return 0;
  }
  return length;
}

bool starts_with(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool looks_binary(std::string_view head) {
  std::size_t odd = 0;
  for (std::size_t at = 0; at < head.size();) {
    const auto byte = static_cast<unsigned char>(head[at]);
    if (byte == 0) return true;
    if (is_text_byte(byte)) {
      ++at;
    } else if (const std::size_t length = utf8_length(head, at); length > 0) {
      at += length;
    } else {
      ++odd;
      ++at;
    }
  }
  return odd * 10 > head.size();
}

std::string quoted_start(std::string_view head, std::size_t count) {
  std::string quoted;
  for (const char c : head.substr(0, count)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      quoted += c;
    } else {
      std::array<char, 5> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\x%02x", byte);
      quoted += escaped.data();
    }
  }
  return quoted;
}

std::optional<std::string> capture_suffix(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string_view suffix : {".bin", ".cu8", ".raw", ".sigmf-data", ".sigmf-meta"}) {
    if (lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return std::string(suffix);
    }
  }
  return std::nullopt;
}

std::optional<std::string> read_head(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string head(kSniffBytes, '\0');
  std::size_t got = 0;
  while (got < head.size()) {
    const ssize_t part = ::read(fd, head.data() + got, head.size() - got);
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) break;
    got += static_cast<std::size_t>(part);
  }
  ::close(fd);
  head.resize(got);
  return head;
}

std::optional<std::string> input_refusal(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;  // the open that follows says why
  if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) return std::nullopt;
  if (path == "/dev/stdin" || starts_with(path, "/dev/fd/") || starts_with(path, "/proc/self/fd/")) {
    return std::nullopt;
  }
  if (S_ISFIFO(info.st_mode)) return "it is a named pipe (FIFO), not a file: opening it would wait for a writer";
  if (S_ISSOCK(info.st_mode)) return "it is a socket, not a file";
  return "it is a device, not a file";
}

int open_input(const std::string& path, struct stat& info, std::string& why) {
  if (auto refusal = input_refusal(path)) {
    why = std::move(*refusal);
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    why = std::strerror(S_ISDIR(info.st_mode) ? EISDIR : errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace iq
