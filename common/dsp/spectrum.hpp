// Averaged power spectrum of a capture: frames of N complex samples, transformed, their
// squared magnitudes summed per bin, and the table of bin means, negative frequencies first.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "io/capture_reader.hpp"
#include "io/output_file.hpp"

namespace iq {

// Per-bin sums of frame power (sum_dat), and the table writer (out_dat).
class SpectrumAccumulator {
 public:
  explicit SpectrumAccumulator(std::int32_t points);

  // sum_dat: adds |X_k|^2 of one transformed frame (2N doubles, real first) to bin k. Each
  // squared magnitude is rounded to single precision before it is added to the double sum.
  void add_frame(std::span<const double> frame);

  // The two halves of add_frame, for frames transformed side by side: the single-precision
  // power of every bin of one frame, and the addition of such powers to bins [first, last).
  static void frame_power(std::span<const double> frame, std::span<float> power);
  void add_power(std::span<const float> power, std::size_t first, std::size_t last);

  // out_dat: writes N lines "%ld    %3.3f\n" from bin -N/2 to N/2 - 1; each value is the sum
  // rounded to single precision over the frame count rounded to single precision.
  void write_table(OutputFile& table, std::int64_t frames) const;

  const std::vector<double>& sums() const { return sums_; }
  std::int32_t points() const { return points_; }

 private:
  std::int32_t points_;
  std::vector<double> sums_;
};

// Reads `frames` consecutive frames of N complex samples from `capture` (bytes past the end
// read as 255), transforms each with the forward FFT and accumulates its power. Frames are
// transformed on `threads` workers (default: worker_thread_count()); the powers are still
// added to every bin in frame order, so the result does not depend on the thread count.
SpectrumAccumulator accumulate_spectrum(CaptureReader& capture, std::int32_t points,
                                        std::int64_t frames, unsigned threads = 0);

// Normalises 2N capture bytes into the frame layout the FFT takes (I real, Q imaginary).
void normalise_frame(std::span<const std::uint8_t> bytes, std::span<double> frame);

// The power of one bin, RN24(RN64(RN64(re re) + RN64(im im))), from double arithmetic where
// that is proven; false (power untouched) otherwise. Proof: with re and im zero or of a
// magnitude from 2^-500 to 2^500, m1 = RN53(re re), m2 = RN53(im im) and s = RN53(m1 + m2)
// carry relative errors of 2^-53 each, the extended value Y two of 2^-64, all terms being
// non-negative; so |Y - s| < 2^-51 (m1 + m2) <= 2^-51 (1 + 2^-52) s, and s - E and s + E,
// E = 2^-50 s, rounded to double still enclose Y. Where both round to the same single value
// (RN24 is monotonic), so does Y. One bin in about 2^26 is declined.
bool bin_power_double(double re, double im, float& power);

}  // namespace iq
