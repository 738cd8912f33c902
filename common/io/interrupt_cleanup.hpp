// SPDX-License-Identifier: MIT
// What a run stopped by SIGINT, SIGTERM or SIGHUP must not leave behind: temporary output
// files and folders, a child process still running, and a progress line on the terminal. One
// handler serves them all; it undoes them and then lets the signal end the process as it would
// have.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>

namespace iq::interrupt {

// Installs the handler once (a signal the process ignores stays ignored).
void install_cleanup();

// The signals the handler serves, to be held while a temporary file is created and registered.
sigset_t cleanup_signals();

// Temporary files to remove on an interrupt. The path must stay valid until unregistered.
// A handler may only touch lock-free atomics, so the registry has a fixed number of slots;
// more simultaneous temporary files than slots go unregistered.
void register_temp(const char* path);
void unregister_temp(const char* path);

// Temporary folders to remove on an interrupt, after the files (their contents, registered as
// temporary files): the same rules as for files.
void register_temp_folder(const char* path);
void unregister_temp_folder(const char* path);

// A child process to end (SIGTERM) on an interrupt, before anything is removed: a child that
// ignores the interrupt itself (gnuplot does) would otherwise outlive the run.
void register_child(pid_t child);
void unregister_child(pid_t child);

// The progress line now shown on `fd`, `width` characters wide (0 when none is shown): the
// handler blanks it so that the shell's prompt starts on a clean line.
void set_progress_line(int fd, std::size_t width);

}  // namespace iq::interrupt
