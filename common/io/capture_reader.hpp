// SPDX-License-Identifier: MIT
// Sequential reading of a capture through large buffered reads, with the byte-by-byte results
// of the tools' contract: a byte read past the end of the file is 255, never an error.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/progress_meter.hpp"
#include "io/read_buffer.hpp"

namespace iq {

// Device and inode of an open file, to tell when two names are the same file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// The device and inode of the file `path` names (through symbolic links), or nothing when
// there is none.
std::optional<FileId> file_id(const std::string& path);

class CaptureReader {
 public:
  // Opens `path` for reading after the input policy (input_refusal in file_kind.hpp). Returns
  // nothing when the policy refuses it, or it cannot be opened, or it is a folder, or it holds
  // no capture the tools can read (capture_refusal in capture_metadata.hpp); `why`, when
  // given, then says why in words for a one-line message.
  static std::optional<CaptureReader> open(const std::string& path, std::size_t buffer_bytes = kDefaultBufferBytes,
                                           std::string* why = nullptr);

  CaptureReader(CaptureReader&& other) noexcept;
  CaptureReader& operator=(CaptureReader&& other) noexcept;
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;
  ~CaptureReader();

  // Length in bytes, measured by a 64-bit seek to the end when the file was opened
  // (-1 where the input cannot seek, like a pipe).
  std::int64_t length() const { return length_; }
  FileId id() const { return id_; }
  const std::string& path() const { return path_; }

  // Moves the read position to byte `offset` from the start (offset >= 0).
  void seek(std::int64_t offset);

  // The next byte, or 255 past the end of the file.
  std::uint8_t next_byte() {
    if (pos_ == end_) refill();
    return pos_ == end_ ? kPastEnd : buffer_[pos_++];
  }

  // Fills `out` with the next bytes; positions past the end of the file get 255.
  void read(std::span<std::uint8_t> out);

  // Reads and discards `count` bytes (count <= 0 does nothing).
  void skip(std::int64_t count);

  // Whether read_at serves: an input that can seek (length() >= 0).
  bool reads_at_offsets() const { return length_ >= 0; }
  // The offset from the start of the byte read() gives next (only where reads_at_offsets()).
  std::int64_t position() const;
  // Fills `out` with the bytes from `offset` on, 255 past the end of the file, leaving the read
  // position as it is, so that several threads may read their parts of a capture at once (only
  // where reads_at_offsets()). Returns 0, or the errno of a read that failed.
  int read_at(std::int64_t offset, std::span<std::uint8_t> out) const;
  // Reports a failed read (read_at's errno) as read() does.
  [[noreturn]] void fail_read(int error) const;

  // Shows a progress line on a terminal (see ProgressMeter) while the next `bytes_to_consume`
  // bytes are read or skipped. Does nothing when standard error is not a terminal.
  void show_progress(std::int64_t bytes_to_consume, ProgressMeter::Clock clock = {});

  // A quarter of a megabyte: the kernel's copy into it stays in the second-level cache.
  static constexpr std::size_t kDefaultBufferBytes = std::size_t{1} << 18;

 private:
  static constexpr std::uint8_t kPastEnd = 255;
  CaptureReader(int fd, std::string path, std::int64_t length, FileId id, std::size_t buffer_bytes);
  void refill();
  // One read() into `out` (at most its size): the bytes it gave, 0 at the end of the file.
  std::size_t read_direct(std::span<std::uint8_t> out);
  // Requests at least this long into a cache-line aligned destination bypass the buffer when it
  // is empty.
  static constexpr std::size_t kDirectReadBytes = std::size_t{1} << 12;
  void consumed(std::int64_t bytes) {
    if (progress_) progress_->update(consumed_ += bytes);
  }

  int fd_ = -1;
  std::string path_;
  std::int64_t length_ = 0;
  FileId id_;
  ReadBuffer buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool at_eof_ = false;
  std::unique_ptr<ProgressMeter> progress_;
  std::int64_t consumed_ = 0;
};

}  // namespace iq
