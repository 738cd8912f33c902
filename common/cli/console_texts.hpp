// SPDX-License-Identifier: MIT
// Console texts that several tools share, byte for byte. A tool's own usage line lives beside
// its run function.
#pragma once

namespace iq::texts {

// Input cannot be opened. Most tools end the line; some leave the cursor after the blank, and
// the aligner has no blank after the full stop.
inline constexpr const char* kCantOpen = "Can't open file %s. ";
inline constexpr const char* kCantOpenLine = "Can't open file %s. \n";
inline constexpr const char* kCantOpenNoBlank = "Can't open file %s.\n";

// A point count beyond the tool's arrays.
inline constexpr const char* kTooManyFftPoints = "Too many FFT points";

// The closing summary of the analysis tools that print nothing more on it.
inline constexpr const char* kInfileOutfileLine = "\nInfile=%s    Outfile=%s\n";

}  // namespace iq::texts
