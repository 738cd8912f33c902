// SPDX-License-Identifier: MIT
// Sequential buffered reading of a capture.
#include "io/capture_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "io/capture_metadata.hpp"
#include "io/file_kind.hpp"
#include "io/tool_error.hpp"

namespace iq {

std::optional<FileId> file_id(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

std::optional<CaptureReader> CaptureReader::open(const std::string& path, std::size_t buffer_bytes,
                                                 std::string* why) {
  struct stat info {};
  std::string reason;
  int fd = open_input(path, info, reason);
  // An existing file that holds no capture, or samples laid out otherwise, is not read as one.
  if (auto refusal = fd < 0 ? std::nullopt : capture_refusal(path)) {
    ::close(fd);
    fd = -1;
    reason = std::move(*refusal);
  }
  if (fd < 0) {
    if (why != nullptr) *why = std::move(reason);
    return std::nullopt;
  }
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end >= 0) ::lseek(fd, 0, SEEK_SET);
  return CaptureReader(fd, path, static_cast<std::int64_t>(end), FileId{info.st_dev, info.st_ino},
                       std::max<std::size_t>(buffer_bytes, 1));
}

CaptureReader::CaptureReader(int fd, std::string path, std::int64_t length, FileId id, std::size_t buffer_bytes)
    : fd_(fd), path_(std::move(path)), length_(length), id_(id), buffer_(buffer_bytes) {}

CaptureReader::CaptureReader(CaptureReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      length_(other.length_),
      id_(other.id_),
      buffer_(std::move(other.buffer_)),
      pos_(other.pos_),
      end_(other.end_),
      at_eof_(other.at_eof_),
      progress_(std::move(other.progress_)),
      consumed_(other.consumed_) {}

CaptureReader& CaptureReader::operator=(CaptureReader&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    length_ = other.length_;
    id_ = other.id_;
    buffer_ = std::move(other.buffer_);
    pos_ = other.pos_;
    end_ = other.end_;
    at_eof_ = other.at_eof_;
    progress_ = std::move(other.progress_);
    consumed_ = other.consumed_;
  }
  return *this;
}

CaptureReader::~CaptureReader() {
  if (fd_ >= 0) ::close(fd_);
}

void CaptureReader::seek(std::int64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    throw ToolError(system_error_text("Can't seek in file " + path_, errno));
  }
  pos_ = end_ = 0;
  at_eof_ = false;
}

void CaptureReader::show_progress(std::int64_t bytes_to_consume, ProgressMeter::Clock clock) {
  progress_ = ProgressMeter::on_terminal(ProgressMeter::label_for(path_), bytes_to_consume, std::move(clock));
  consumed_ = 0;
}

std::int64_t CaptureReader::position() const {
  const off_t at = ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) fail_read(errno);
  return static_cast<std::int64_t>(at) - static_cast<std::int64_t>(end_ - pos_);
}

int CaptureReader::read_at(std::int64_t offset, std::span<std::uint8_t> out) const {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0) {
      std::memset(out.data() + done, kPastEnd, out.size() - done);
      return 0;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

void CaptureReader::fail_read(int error) const {
  throw ToolError(system_error_text("Can't read file " + path_, error));
}

void CaptureReader::refill() {
  pos_ = end_ = 0;
  end_ = read_direct(buffer_);
}

std::size_t CaptureReader::read_direct(std::span<std::uint8_t> out) {
  while (!at_eof_) {
    const ssize_t got = ::read(fd_, out.data(), out.size());
    if (got > 0) {
      consumed(got);
      return static_cast<std::size_t>(got);
    }
    if (got == 0) {
      at_eof_ = true;
    } else if (errno != EINTR) {
      fail_read(errno);
    }
  }
  return 0;
}

void CaptureReader::read(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    // With nothing buffered, a long request into an aligned destination is read straight into
    // `out` in reads of at most a buffer: no second copy, and the kernel's copy stays in cache.
    if (pos_ == end_ && out.size() - done >= kDirectReadBytes && read_aligned(out.data() + done)) {
      const std::size_t got = read_direct(out.subspan(done, std::min(out.size() - done, buffer_.size())));
      if (got == 0) {
        std::memset(out.data() + done, kPastEnd, out.size() - done);
        return;
      }
      done += got;
      continue;
    }
    if (pos_ == end_) {
      refill();
      if (pos_ == end_) {
        std::memset(out.data() + done, kPastEnd, out.size() - done);
        return;
      }
    }
    const std::size_t take = std::min(out.size() - done, end_ - pos_);
    std::memcpy(out.data() + done, buffer_.data() + pos_, take);
    pos_ += take;
    done += take;
  }
}

void CaptureReader::skip(std::int64_t count) {
  const auto buffered = static_cast<std::int64_t>(end_ - pos_);
  if (count > buffered && !at_eof_ && ::lseek(fd_, static_cast<off_t>(count - buffered), SEEK_CUR) >= 0) {
    pos_ = end_ = 0;  // seekable input: jump instead of reading what is skipped
    consumed(count - buffered);
    return;
  }
  while (count > 0) {
    if (pos_ == end_) {
      refill();
      if (pos_ == end_) return;
    }
    const auto take =
        static_cast<std::size_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(end_ - pos_)));
    pos_ += take;
    count -= static_cast<std::int64_t>(take);
  }
}

}  // namespace iq
