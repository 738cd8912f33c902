// SPDX-License-Identifier: MIT
// What kind of file a name holds, for the policies that guard the tools' inputs and outputs:
// text or binary content, a capture's name, and the inputs that are refused before any open.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace iq {

// How much of a file's start is looked at to tell text from binary data.
inline constexpr std::size_t kSniffBytes = 4096;

// Whether the start of a file is binary data rather than text: a NUL byte, or more than one
// byte in ten that is neither printable, nor white space, nor part of a UTF-8 character.
bool looks_binary(std::string_view head);

// The first bytes of `head` as they may be quoted in a one-line message: at most `count` of
// them, printable ASCII as it is, every other byte as \xHH.
std::string quoted_start(std::string_view head, std::size_t count = 8);

// The suffix of a capture's name that `path` ends in (".bin", ".cu8", ".raw", ".sigmf-data",
// ".sigmf-meta", in any case), or nothing.
std::optional<std::string> capture_suffix(const std::string& path);

// Up to kSniffBytes from the start of the regular file `path`; nothing when it cannot be read.
std::optional<std::string> read_head(const std::string& path);

// The input policy: why `path` is refused as a capture or table before it is opened, or nothing.
// A named pipe (FIFO), a socket or a device is refused: opening a FIFO waits for a writer
// that may never come, and a device is no recording. A stream the program already holds
// (/dev/stdin, /dev/fd/N, /proc/self/fd/N: a pipe from the shell) is read as it comes.
std::optional<std::string> input_refusal(const std::string& path);

// Opens `path` for reading after the input policy, and fills `info`. Returns the descriptor,
// or -1 with `why` saying why (the policy's reason, or the system's: "Is a directory" for a
// folder).
int open_input(const std::string& path, struct stat& info, std::string& why);

}  // namespace iq
