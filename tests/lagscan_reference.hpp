// SPDX-License-Identifier: MIT
// A plain transcription of the cross-correlator for the tests: the original buffers, one lag at
// a time, every term evaluated in full as written. The fast correlator must match it bit for bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "arith/precision.hpp"

namespace iq::test {

class ReferenceLagscan {
 public:
  explicit ReferenceLagscan(int window) : slen_(window) {}

  // Reads one block (16384 bytes) of each capture and runs cor_dat on it; carry_over() follows.
  void block(const std::uint8_t* bytes1, const std::uint8_t* bytes2) {
    std::vector<float> dats(16384), dats2(16384);
    for (int k = 0; k < 16384; ++k) {
      dats[k] = bytes1[k];
      dats2[k] = bytes2[k];
      dats[k] = static_cast<float>((static_cast<extended>(dats[k]) - widen(127.5)) / widen(128.0));
      dats2[k] = static_cast<float>((static_cast<extended>(dats2[k]) - widen(127.5)) / widen(128.0));
    }
    const int carry = count_ > 0 ? 1 : 0;
    for (int k = 0; k < 8192; ++k) {
      const extended s1 = static_cast<extended>(dats[2 * k]) * dats[2 * k] +
                          static_cast<extended>(dats[2 * k + 1]) * dats[2 * k + 1];
      const extended s2 = static_cast<extended>(dats2[2 * k]) * dats2[2 * k] +
                          static_cast<extended>(dats2[2 * k + 1]) * dats2[2 * k + 1];
      const int at = carry * slen_ + k;
      ra_[at] = static_cast<float>(std::sqrt(static_cast<double>(s1)));
      rb_[at] = static_cast<float>(std::sqrt(static_cast<double>(s2)));
      if (carry == 0 && k >= 7000 && k < 7000 + slen_) {
        r1_ = static_cast<float>(r1_ + widen(1.0) / slen_ * ra_[k]);
        r2_ = static_cast<float>(r2_ + widen(1.0) / slen_ * rb_[k]);
        rar_[k - 7000] = ra_[k];
        rbr_[k - 7000] = rb_[k];
      }
    }
    lags_ = carry == 1 ? 8192 : 8192 - slen_;
    cor_dat();
  }

  // The carry-over after the block's table rows are out.
  void carry_over() {
    const int carry = count_ > 1 ? 1 : 0;
    for (int m = 0; m < slen_; ++m) {
      ra_[m] = ra_[(carry == 1 ? 8192 : 8192 - slen_) + m];
      rb_[m] = rb_[(carry == 1 ? 8192 : 8192 - slen_) + m];
    }
  }

  // The parts of the terms, written as in cor_dat.
  extended weight(int capture, int j) const {
    return capture == 1 ? widen(4.0) / slen_ * (static_cast<extended>(rar_[j]) / r1_ - 1)
                        : widen(4.0) / slen_ * (static_cast<extended>(rbr_[j]) / r2_ - 1);
  }
  extended factor(int capture, int x) const {
    return capture == 1 ? static_cast<extended>(ra_[x]) / r1_ - 1 : static_cast<extended>(rb_[x]) / r2_ - 1;
  }

  // The transcription's variables: the block's coefficients and their count.
  std::vector<float> dato1_ = std::vector<float>(16384), dato2_ = std::vector<float>(16384);
  int lags_ = 0;

 private:
  void cor_dat() {
    for (int i = 0; i < lags_; ++i) {
      dato1_[i] = 0.0f;
      dato2_[i] = 0.0f;
      for (int j = 0; j < slen_; ++j) {
        dato1_[i] =
            static_cast<float>(dato1_[i] + widen(4.0) / slen_ * (static_cast<extended>(rar_[j]) / r1_ - 1) *
                                               (static_cast<extended>(rb_[i + j]) / r2_ - 1));
        dato2_[i] =
            static_cast<float>(dato2_[i] + widen(4.0) / slen_ * (static_cast<extended>(rbr_[j]) / r2_ - 1) *
                                               (static_cast<extended>(ra_[i + j]) / r1_ - 1));
      }
    }
    ++count_;
  }

  int slen_;
  float r1_ = 0.0f, r2_ = 0.0f;
  std::int64_t count_ = 0;
  std::vector<float> ra_ = std::vector<float>(16384), rb_ = std::vector<float>(16384);
  std::vector<float> rar_ = std::vector<float>(8192), rbr_ = std::vector<float>(8192);
};

}  // namespace iq::test
