// Safe creation of a tool's output.
#include "io/output_file.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <utility>

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

// Temporary files that an interrupt must not leave behind. A signal handler can only touch
// lock-free atomics, so the registry is a small fixed array of path pointers, each owned by
// the OutputFile that registered it. More simultaneous outputs than slots simply go
// unregistered.
constexpr std::size_t kTempSlots = 16;
std::array<std::atomic<const char*>, kTempSlots> temp_slots{};

extern "C" void remove_temps_and_reraise(int signal_number) {
  for (auto& slot : temp_slots) {
    if (const char* temp = slot.load()) ::unlink(temp);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void install_interrupt_cleanup() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction action {};
      if (::sigaction(signal_number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) continue;
      action = {};
      action.sa_handler = remove_temps_and_reraise;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal_number, &action, nullptr);
    }
  });
}

void register_temp(const char* temp) {
  install_interrupt_cleanup();
  for (auto& slot : temp_slots) {
    const char* empty = nullptr;
    if (slot.compare_exchange_strong(empty, temp)) return;
  }
}

void unregister_temp(const char* temp) {
  for (auto& slot : temp_slots) {
    const char* expected = temp;
    if (slot.compare_exchange_strong(expected, nullptr)) return;
  }
}

}  // namespace

OutputFile::OutputFile(std::string path, std::initializer_list<FileId> inputs)
    : path_(std::move(path)), final_path_(path_) {
  struct stat info {};
  const bool exists = ::stat(path_.c_str(), &info) == 0;
  if (exists) {
    const FileId id{info.st_dev, info.st_ino};
    for (const FileId& input : inputs) {
      if (id == input) {
        throw ToolError("output file " + path_ +
                        " is the same file as an input; refusing to overwrite it");
      }
    }
  }
  if (exists && S_ISDIR(info.st_mode)) {
    throw ToolError("Can't create file " + path_ + ": it is a folder");
  }
  if (exists && S_ISREG(info.st_mode) && ::access(path_.c_str(), W_OK) != 0) {
    throw ToolError(system_error_text("Can't create file " + path_, errno));
  }
  if ((exists && !S_ISREG(info.st_mode)) || is_special_path(path_)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw ToolError(system_error_text("Can't create file " + path_, errno));
    return;
  }
  struct stat link_info {};
  if (::lstat(path_.c_str(), &link_info) == 0 && S_ISLNK(link_info.st_mode)) {
    final_path_ = resolve_link_target(path_);
  }
  std::string pattern = final_path_ + ".partial-XXXXXX";
  // An interrupt between the creation of the temporary file and its registration would leave
  // it behind: hold the signals until the handler knows the name.
  install_interrupt_cleanup();
  sigset_t interrupts;
  sigset_t previous;
  sigemptyset(&interrupts);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, signal_number);
  ::pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  const int create_errno = errno;
  if (fd_ >= 0) {
    temp_path_ = std::move(pattern);
    register_temp(temp_path_.c_str());
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd_ < 0) throw ToolError(system_error_text("Can't create file " + path_, create_errno));
  ::fchmod(fd_, exists ? (info.st_mode & 07777) : default_file_mode());
  buffer_.reserve(kBufferBytes);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_path_.empty()) {
    unregister_temp(temp_path_.c_str());
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
  unregister_temp(temp_path_.c_str());
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
