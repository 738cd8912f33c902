// SPDX-License-Identifier: MIT
// Safe creation of a tool's output.
#include "io/output_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "io/file_kind.hpp"
#include "io/interrupt_cleanup.hpp"
#include "io/text_format.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

// Paths under these folders name streams of this process or devices: never rename over them.
bool is_special_path(const std::string& path) {
  return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

// The permission bits a file created with fopen "w" gets: 0666 less the umask.
mode_t default_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

// The file a possibly symbolic path finally names, so that the rename replaces the target and
// keeps the user's link.
std::string resolve_link_target(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// The folder a file named `path` is in.
std::string folder_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The temporary file for `final_path`: beside it, named after it with ".partial-XXXXXX"
// (XXXXXX made unique by mkostemp). When the final name is so long that the suffix would pass
// the folder's limit on a name's length, the name is cut to make room, so that every name the
// file system takes as an output also has its temporary file.
std::string temp_pattern(const std::string& final_path) {
  static constexpr std::string_view kSuffix = ".partial-XXXXXX";
  const auto slash = final_path.rfind('/');
  const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const long limit = ::pathconf(folder_of(final_path).c_str(), _PC_NAME_MAX);
  const std::size_t name_max = limit > 0 ? static_cast<std::size_t>(limit) : std::size_t{NAME_MAX};
  std::string name = final_path.substr(name_start);
  // A name already past the limit is left whole, so that its creation fails at once.
  if (name.size() <= name_max && name.size() + kSuffix.size() > name_max && name_max > kSuffix.size()) {
    name.resize(name_max - kSuffix.size());
  }
  return final_path.substr(0, name_start) + name + std::string(kSuffix);
}

// A PNG file's first eight bytes.
constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);
// A SIGPROC file's first sixteen bytes: the length of HEADER_START, then the keyword.
constexpr std::string_view kSigprocSignature("\x0c\0\0\0HEADER_START", 16);

// Throws ToolError when the existing file `path` (with `info`) may not be the output: an input,
// a folder, a file the user may not write, or one that `kind` may not replace.
void refuse_unsafe_target(const std::string& path, const struct stat& info, std::initializer_list<FileId> inputs,
                          const OutputKind& kind) {
  const FileId id{info.st_dev, info.st_ino};
  for (const FileId& input : inputs) {
    if (id == input) {
      throw ToolError("output file " + path + " is the same file as an input; refusing to overwrite it");
    }
  }
  if (S_ISDIR(info.st_mode)) throw ToolError("Can't create file " + path + ": it is a folder");
  if (!S_ISREG(info.st_mode)) return;
  if (::access(path.c_str(), W_OK) != 0) throw ToolError(system_error_text("Can't create file " + path, errno));
  if (is_special_path(path)) return;
  const auto refusal = kind.refusal(path, resolve_link_target(path), static_cast<std::int64_t>(info.st_size));
  if (refusal) throw ToolError(*refusal);
}

}  // namespace

std::optional<std::string> OutputKind::refusal(const std::string& path, const std::string& target,
                                               std::int64_t size) const {
  if (what_ == What::kCapture) {
    if (size <= largest_replaced_) return std::nullopt;
    return cformat(
        "%s holds %lld bytes, more than the %lld bytes written in its place; a capture replaces "
        "only a file no larger than itself, so that swapped names never lose a recording",
        path.c_str(), static_cast<long long>(size), static_cast<long long>(largest_replaced_));
  }
  const std::string noun = what_ == What::kTable        ? "a table"
                           : what_ == What::kPicture    ? "a picture"
                           : what_ == What::kPulsarData ? "pulsar data"
                                                        : "capture metadata";
  if (what_ != What::kMetadata) {
    if (const auto suffix = capture_suffix(path)) {
      return path + " is a capture (its name ends in " + *suffix + "); it is never replaced by " + noun;
    }
    if (const auto suffix = capture_suffix(target)) {
      return path + " links to a capture (a name ending in " + *suffix + "); it is never replaced by " + noun;
    }
  }
  const auto head = read_head(path);
  if (!head || !looks_binary(*head)) return std::nullopt;
  if (what_ == What::kPicture && head->starts_with(kPngSignature)) return std::nullopt;
  if (what_ == What::kPulsarData && head->starts_with(kSigprocSignature)) return std::nullopt;
  return path + " holds binary data, like a capture (it starts \"" + quoted_start(*head) +
         "\"); it is never replaced by " + noun;
}

std::optional<std::int64_t> free_bytes_beside(const std::string& path) {
  struct statvfs info {};
  if (::statvfs(folder_of(path).c_str(), &info) != 0) return std::nullopt;
  const auto blocks = static_cast<unsigned long long>(info.f_bavail);
  const auto block_bytes = static_cast<unsigned long long>(info.f_frsize);
  if (block_bytes != 0 && blocks > static_cast<unsigned long long>(INT64_MAX) / block_bytes) return INT64_MAX;
  return static_cast<std::int64_t>(blocks * block_bytes);
}

void check_replaceable(const std::string& path, OutputKind kind) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) refuse_unsafe_target(path, info, {}, kind);
}

OutputFile::OutputFile(std::string path, std::initializer_list<FileId> inputs, OutputKind kind)
    : path_(std::move(path)), final_path_(path_) {
  struct stat info {};
  const bool exists = ::stat(path_.c_str(), &info) == 0;
  if (exists) refuse_unsafe_target(path_, info, inputs, kind);
  if ((exists && !S_ISREG(info.st_mode)) || is_special_path(path_)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw ToolError(system_error_text("Can't create file " + path_, errno));
    return;
  }
  struct stat link_info {};
  if (::lstat(path_.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    final_path_ = resolve_link_target(path_);
  }
  std::string pattern = temp_pattern(final_path_);
  // An interrupt between the creation of the temporary file and its registration would leave
  // it behind: hold the signals until the handler knows the name.
  interrupt::install_cleanup();
  const sigset_t interrupts = interrupt::cleanup_signals();
  sigset_t previous;
  ::pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  const int create_errno = errno;
  if (fd_ >= 0) {
    temp_path_ = std::move(pattern);
    interrupt::register_temp(temp_path_.c_str());
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd_ < 0) throw ToolError(system_error_text("Can't create file " + path_, create_errno));
  ::fchmod(fd_, exists ? (info.st_mode & 07777) : default_file_mode());
  buffer_.reserve(kBufferBytes);
}

OutputFile::OutputFile(int fd, std::string name) : path_(std::move(name)), final_path_(path_), fd_(fd) {
  buffer_.reserve(kBufferBytes);
}

OutputFile OutputFile::standard_output(std::string name) {
  // A copy of the descriptor, so that commit's close reports a failed write and leaves the
  // process's standard output open.
  const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) throw ToolError(system_error_text("Can't write " + name, errno));
  return OutputFile(fd, std::move(name));
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_path_.empty()) {
    interrupt::unregister_temp(temp_path_.c_str());
    ::unlink(temp_path_.c_str());
  }
}

void OutputFile::fail_write(int errnum) {
  buffer_.clear();
  throw ToolError(system_error_text("Can't write file " + path_, errnum));
}

void OutputFile::write_fully(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t done = ::write(fd_, bytes.data(), bytes.size());
    if (done < 0) {
      if (errno == EINTR) continue;
      fail_write(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(done));
  }
}

void OutputFile::flush() {
  if (buffer_.empty()) return;
  write_fully(buffer_);
  buffer_.clear();
}

void OutputFile::move_into_place() {
  if (temp_path_.empty()) return;
  if (::rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
    fail_write(errno);
  }
  interrupt::unregister_temp(temp_path_.c_str());
  temp_path_.clear();
}

void OutputFile::publish() {
  flush();
  move_into_place();
}

void OutputFile::commit() {
  flush();
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) fail_write(errno);
  move_into_place();
}

}  // namespace iq
