// SPDX-License-Identifier: MIT
// Extended precision in software: the x87 80-bit format and its rounding, on any processor.
//
// A value is a 64-bit significand with an explicit integer bit and a sign with a 15-bit biased
// exponent, laid out as the x87 unit stores it (so the two compare bit for bit). Every
// operation rounds its exact result once, to nearest with ties to even: subnormals are rounded
// at the bottom of the exponent range, results beyond the largest finite value become
// infinities, 0/0, inf - inf, 0 * inf and inf / inf give the x87 default NaN (negative, so it
// prints "-nan"), and a NaN operand comes back quieted with its sign and payload. Conversions
// from integers, float and double are exact; to float and double they round once, straight
// from the 64-bit significand; to integers they truncate (out of range: the x87 "integer
// indefinite", the most negative value).
//
// Only integer instructions are used, so the results do not depend on the processor's
// floating-point unit. Products take a 64 x 64 -> 128-bit multiply (unsigned __int128 where the
// compiler has it, four 32-bit products elsewhere); quotients a two-digit long division.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

namespace iq {

class SoftExtended;

namespace soft_detail {

inline constexpr int kBias = 16383;
inline constexpr int kMaxField = 0x7FFF;  // exponent field of infinities and NaN
inline constexpr std::uint64_t kTop = 0x8000000000000000u;
inline constexpr std::uint64_t kQuiet = 0x4000000000000000u;

// The 128-bit product of two 64-bit values, high and low halves.
struct Wide {
  std::uint64_t hi;
  std::uint64_t lo;
};

constexpr Wide multiply(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
#else
  const std::uint64_t a0 = a & 0xFFFFFFFFu;
  const std::uint64_t a1 = a >> 32;
  const std::uint64_t b0 = b & 0xFFFFFFFFu;
  const std::uint64_t b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0;
  const std::uint64_t p01 = a0 * b1;
  const std::uint64_t p10 = a1 * b0;
  const std::uint64_t p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), (middle << 32) | (p00 & 0xFFFFFFFFu)};
#endif
}

// (u1 * 2^64 + u0) / v for v with its top bit set and u1 < v: the quotient (64 bits) and the
// remainder, by long division in 32-bit digits (Knuth's algorithm D with two digits).
constexpr std::uint64_t divide(std::uint64_t u1, std::uint64_t u0, std::uint64_t v, std::uint64_t& remainder) {
  constexpr std::uint64_t b = 0x100000000u;
  const std::uint64_t vn1 = v >> 32;
  const std::uint64_t vn0 = v & 0xFFFFFFFFu;
  const std::uint64_t un1 = u0 >> 32;
  const std::uint64_t un0 = u0 & 0xFFFFFFFFu;
  std::uint64_t q1 = u1 / vn1;
  std::uint64_t rhat = u1 - q1 * vn1;
  while (q1 >= b || q1 * vn0 > ((rhat << 32) | un1)) {
    --q1;
    rhat += vn1;
    if (rhat >= b) break;
  }
  const std::uint64_t un21 = (u1 << 32) + un1 - q1 * v;
  std::uint64_t q0 = un21 / vn1;
  rhat = un21 - q0 * vn1;
  while (q0 >= b || q0 * vn0 > ((rhat << 32) | un0)) {
    --q0;
    rhat += vn1;
    if (rhat >= b) break;
  }
  remainder = (un21 << 32) + un0 - q0 * v;
  return (q1 << 32) + q0;
}

// Shifts hi:lo right by s bits, keeping whether any bit fell off in the lowest bit ("sticky").
constexpr void shift_right_sticky(std::uint64_t& hi, std::uint64_t& lo, unsigned s) {
  if (s == 0) return;
  if (s < 64) {
    lo = (hi << (64 - s)) | (lo >> s) | static_cast<std::uint64_t>((lo << (64 - s)) != 0);
    hi >>= s;
  } else if (s == 64) {
    lo = hi | static_cast<std::uint64_t>(lo != 0);
    hi = 0;
  } else if (s < 128) {
    lo = (hi >> (s - 64)) | static_cast<std::uint64_t>(((hi << (128 - s)) | lo) != 0);
    hi = 0;
  } else {
    lo = static_cast<std::uint64_t>((hi | lo) != 0);
    hi = 0;
  }
}

}  // namespace soft_detail

class SoftExtended {
 public:
  constexpr SoftExtended() = default;

  // Exact conversions.
  template <class T>
  requires std::is_integral_v<T>
  constexpr SoftExtended(T value) {  // NOLINT: converts implicitly, as the built-in type does
    if constexpr (std::is_signed_v<T>) {
      const auto v = static_cast<std::int64_t>(value);
      const std::uint64_t magnitude = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
      *this = from_integer(v < 0, magnitude);
    } else {
      *this = from_integer(false, static_cast<std::uint64_t>(value));
    }
  }
  constexpr SoftExtended(double value) { *this = from_double(value); }  // NOLINT: implicit, as built in
  constexpr SoftExtended(float value) { *this = from_float(value); }    // NOLINT: implicit, as built in

  // Rounded once from the 64-bit significand.
  constexpr explicit operator double() const { return std::bit_cast<double>(narrow<52, 11>()); }
  constexpr explicit operator float() const {
    return std::bit_cast<float>(static_cast<std::uint32_t>(narrow<23, 8>()));
  }
  // Truncated towards zero.
  template <class T>
  requires std::is_integral_v<T>
  constexpr explicit operator T() const {
    if constexpr (std::is_signed_v<T>) {
      return static_cast<T>(to_int64());
    } else {
      return static_cast<T>(to_uint64());
    }
  }

  // The stored fields: significand (integer bit included) and sign with biased exponent.
  constexpr std::uint64_t significand() const { return significand_; }
  constexpr std::uint16_t sign_exponent() const { return sign_exponent_; }
  static constexpr SoftExtended from_fields(std::uint16_t sign_exponent, std::uint64_t significand) {
    SoftExtended r;
    r.significand_ = significand;
    r.sign_exponent_ = sign_exponent;
    return r;
  }

  friend constexpr SoftExtended operator+(SoftExtended a, SoftExtended b) { return add(a, b, false); }
  friend constexpr SoftExtended operator-(SoftExtended a, SoftExtended b) { return add(a, b, true); }
  friend constexpr SoftExtended operator*(SoftExtended a, SoftExtended b) { return multiply(a, b); }
  friend constexpr SoftExtended operator/(SoftExtended a, SoftExtended b) { return divide(a, b); }
  friend constexpr SoftExtended operator-(SoftExtended a) {
    a.sign_exponent_ ^= 0x8000u;
    return a;
  }
  friend constexpr SoftExtended operator+(SoftExtended a) { return a; }
  constexpr SoftExtended& operator+=(SoftExtended b) { return *this = *this + b; }
  constexpr SoftExtended& operator-=(SoftExtended b) { return *this = *this - b; }
  constexpr SoftExtended& operator*=(SoftExtended b) { return *this = *this * b; }
  constexpr SoftExtended& operator/=(SoftExtended b) { return *this = *this / b; }

  friend constexpr bool operator==(SoftExtended a, SoftExtended b) {
    if (a.is_nan() || b.is_nan()) return false;
    if (a.is_zero() && b.is_zero()) return true;
    return a.significand_ == b.significand_ && a.sign_exponent_ == b.sign_exponent_;
  }
  friend constexpr bool operator<(SoftExtended a, SoftExtended b) {
    if (a.is_nan() || b.is_nan()) return false;
    if (a.negative() != b.negative()) return a.negative() && !(a.is_zero() && b.is_zero());
    return a.negative() ? magnitude_less(b, a) : magnitude_less(a, b);
  }
  friend constexpr bool operator>(SoftExtended a, SoftExtended b) { return b < a; }
  friend constexpr bool operator<=(SoftExtended a, SoftExtended b) { return a < b || a == b; }
  friend constexpr bool operator>=(SoftExtended a, SoftExtended b) { return b < a || a == b; }

  constexpr bool negative() const { return (sign_exponent_ & 0x8000u) != 0; }
  constexpr int exponent_field() const { return sign_exponent_ & 0x7FFF; }
  constexpr bool is_nan() const { return exponent_field() == soft_detail::kMaxField && (significand_ << 1) != 0; }
  constexpr bool is_inf() const { return exponent_field() == soft_detail::kMaxField && (significand_ << 1) == 0; }
  constexpr bool is_zero() const { return significand_ == 0 && exponent_field() == 0; }

  // The largest whole number not above / not below the value (zero signs kept).
  friend constexpr SoftExtended floor(SoftExtended x) { return x.to_whole(true); }
  friend constexpr SoftExtended ceil(SoftExtended x) { return x.to_whole(false); }
  // The square root rounded once.
  friend constexpr SoftExtended sqrt(SoftExtended x) { return x.root(); }

  // The default NaN of the x87 unit (0/0, inf - inf): negative, quiet, no payload.
  static constexpr SoftExtended default_nan() {
    return from_fields(0xFFFF, soft_detail::kTop | soft_detail::kQuiet);
  }
  static constexpr SoftExtended infinity(bool negative) {
    return from_fields(static_cast<std::uint16_t>((negative ? 0x8000u : 0u) | 0x7FFFu), soft_detail::kTop);
  }

 private:
  std::uint64_t significand_ = 0;
  std::uint16_t sign_exponent_ = 0;

  static constexpr SoftExtended make(bool negative, int field, std::uint64_t significand) {
    return from_fields(static_cast<std::uint16_t>((negative ? 0x8000u : 0u) | static_cast<unsigned>(field)),
                       significand);
  }

  static constexpr bool magnitude_less(SoftExtended a, SoftExtended b) {
    const int ea = a.exponent_field();
    const int eb = b.exponent_field();
    return ea != eb ? ea < eb : a.significand_ < b.significand_;
  }

  // The value as a normalised significand (top bit set) and a biased exponent that may lie
  // below 1 for subnormals. Finite non-zero values only.
  constexpr void unpack(int& field, std::uint64_t& significand) const {
    field = exponent_field();
    significand = significand_;
    if (field == 0 || (significand & soft_detail::kTop) == 0) {
      const int shift = std::countl_zero(significand);
      significand <<= shift;
      field = (field == 0 ? 1 : field) - shift;
    }
  }

  // Rounds hi:lo * 2^(field - bias - 127) (hi with its top bit set) to nearest even.
  static constexpr SoftExtended round_pack(bool negative, int field, std::uint64_t hi, std::uint64_t lo) {
    using namespace soft_detail;
    if (field < 1) {
      const int shift = 1 - field;
      shift_right_sticky(hi, lo, static_cast<unsigned>(shift > 200 ? 200 : shift));
      field = 0;
    }
    if (lo > kTop || (lo == kTop && (hi & 1) != 0)) {
      ++hi;
      if (hi == 0) {
        hi = kTop;
        ++field;
      }
    }
    if (field == 0 && (hi & kTop) != 0) field = 1;  // a subnormal rounded up to the least normal
    if (field >= kMaxField) return infinity(negative);
    return make(negative, field, hi);
  }

  static constexpr SoftExtended quieted(SoftExtended x) {
    x.significand_ |= soft_detail::kQuiet;
    return x;
  }
  // The NaN the x87 unit returns when an operand is NaN: a quiet one before a signalling one,
  // else the one with the larger significand, else the positive one.
  static constexpr SoftExtended propagate(SoftExtended a, SoftExtended b) {
    if (a.is_nan() && b.is_nan()) {
      const bool qa = (a.significand_ & soft_detail::kQuiet) != 0;
      const bool qb = (b.significand_ & soft_detail::kQuiet) != 0;
      if (qa != qb) return quieted(qa ? a : b);
      if (a.significand_ != b.significand_) return quieted(a.significand_ > b.significand_ ? a : b);
      return quieted(a.negative() ? b : a);
    }
    return quieted(a.is_nan() ? a : b);
  }

  static constexpr SoftExtended from_integer(bool negative, std::uint64_t magnitude) {
    if (magnitude == 0) return SoftExtended();
    const int shift = std::countl_zero(magnitude);
    return make(negative, soft_detail::kBias + 63 - shift, magnitude << shift);
  }

  template <int kFraction, int kExponent, class Bits>
  static constexpr SoftExtended from_binary(Bits bits) {
    using namespace soft_detail;
    constexpr int total = static_cast<int>(sizeof(Bits) * 8);
    constexpr int max_field = (1 << kExponent) - 1;
    constexpr int bias = (1 << (kExponent - 1)) - 1;
    const bool negative = (bits >> (total - 1)) != 0;
    const int field = static_cast<int>((bits >> kFraction) & static_cast<Bits>(max_field));
    const auto fraction = static_cast<std::uint64_t>(bits & ((static_cast<Bits>(1) << kFraction) - 1));
    if (field == max_field) {
      if (fraction == 0) return infinity(negative);
      return make(negative, kMaxField, kTop | kQuiet | (fraction << (63 - kFraction)));
    }
    if (field == 0) {
      if (fraction == 0) return make(negative, 0, 0);
      const int shift = std::countl_zero(fraction);
      return make(negative, kBias - bias + 1 - (shift - (63 - kFraction)), fraction << shift);
    }
    return make(negative, field - bias + kBias, kTop | (fraction << (63 - kFraction)));
  }
  static constexpr SoftExtended from_double(double value) {
    return from_binary<52, 11>(std::bit_cast<std::uint64_t>(value));
  }
  static constexpr SoftExtended from_float(float value) {
    return from_binary<23, 8>(std::bit_cast<std::uint32_t>(value));
  }

  // The bits of the binary format with kFraction fraction bits and kExponent exponent bits.
  template <int kFraction, int kExponent>
  constexpr std::uint64_t narrow() const {
    using namespace soft_detail;
    constexpr int max_field = (1 << kExponent) - 1;
    constexpr int bias = (1 << (kExponent - 1)) - 1;
    const std::uint64_t sign = negative() ? std::uint64_t{1} << (kFraction + kExponent) : 0;
    const std::uint64_t fraction_mask = (std::uint64_t{1} << kFraction) - 1;
    const std::uint64_t infinity_bits = sign | (static_cast<std::uint64_t>(max_field) << kFraction);
    if (exponent_field() == kMaxField) {
      if (!is_nan()) return infinity_bits;
      return infinity_bits | (std::uint64_t{1} << (kFraction - 1)) |
             ((significand_ >> (63 - kFraction)) & fraction_mask);
    }
    if (significand_ == 0) return sign;
    int field = 0;
    std::uint64_t m = 0;
    unpack(field, m);
    int target = field - kBias + bias;
    if (target >= max_field) return infinity_bits;
    std::uint64_t hi = m;
    std::uint64_t lo = 0;
    unsigned shift = 63 - kFraction;
    if (target < 1) {
      const int extra = 1 - target;
      shift += static_cast<unsigned>(extra > 100 ? 100 : extra);
      target = 0;
    }
    shift_right_sticky(hi, lo, shift);
    if (lo > kTop || (lo == kTop && (hi & 1) != 0)) ++hi;
    // A subnormal's bits are hi itself (a carry makes it the least normal). A normal hi holds
    // the integer bit at kFraction, which adds one to the field (two after a carry into the
    // next binade, whose fraction is then zero).
    if (target == 0) return sign | hi;
    const std::uint64_t normal = (static_cast<std::uint64_t>(target - 1) << kFraction) + hi;
    if ((normal >> kFraction) >= static_cast<std::uint64_t>(max_field)) return infinity_bits;
    return sign | normal;
  }

  constexpr std::uint64_t to_uint64() const {
    if (exponent_field() == soft_detail::kMaxField) return soft_detail::kTop;
    const int power = exponent_field() - soft_detail::kBias;
    if (power < 0) return 0;
    if (power > 63) return soft_detail::kTop;
    const std::uint64_t magnitude = significand_ >> (63 - power);
    return negative() ? 0 - magnitude : magnitude;
  }
  constexpr std::int64_t to_int64() const {
    constexpr auto indefinite = static_cast<std::int64_t>(soft_detail::kTop - 1) * -1 - 1;
    if (exponent_field() == soft_detail::kMaxField) return indefinite;
    const int power = exponent_field() - soft_detail::kBias;
    if (power < 0) return 0;
    if (power > 62) return indefinite;
    const auto magnitude = static_cast<std::int64_t>(significand_ >> (63 - power));
    return negative() ? -magnitude : magnitude;
  }

  static constexpr SoftExtended add(SoftExtended a, SoftExtended b, bool subtract) {
    using namespace soft_detail;
    const int fa = a.exponent_field();
    const int fb = b.exponent_field();
    if (fa == kMaxField || fb == kMaxField) {
      if (a.is_nan() || b.is_nan()) return propagate(a, b);  // the NaN keeps its sign
    }
    if (subtract) b.sign_exponent_ ^= 0x8000u;
    if (fa == kMaxField || fb == kMaxField) {
      if (a.is_inf() && b.is_inf() && a.negative() != b.negative()) return default_nan();
      return a.is_inf() ? a : b;
    }
    if (b.significand_ == 0) {
      if (a.significand_ == 0) return make(a.negative() && b.negative(), 0, 0);
      return a;
    }
    if (a.significand_ == 0) return b;
    int ea = 0;
    int eb = 0;
    std::uint64_t ma = 0;
    std::uint64_t mb = 0;
    a.unpack(ea, ma);
    b.unpack(eb, mb);
    bool negative = a.negative();
    if (ea < eb || (ea == eb && ma < mb)) {
      const int te = ea;
      ea = eb;
      eb = te;
      const std::uint64_t tm = ma;
      ma = mb;
      mb = tm;
      negative = b.negative();
    }
    std::uint64_t bh = mb;
    std::uint64_t bl = 0;
    const int distance = ea - eb;
    shift_right_sticky(bh, bl, static_cast<unsigned>(distance > 200 ? 200 : distance));
    if (a.negative() == b.negative()) {
      std::uint64_t hi = ma + bh;
      std::uint64_t lo = bl;
      if (hi < ma) {  // carry out: one more bit above
        lo = (hi << 63) | (lo >> 1) | (lo & 1);
        hi = (hi >> 1) | kTop;
        ++ea;
      }
      return round_pack(negative, ea, hi, lo);
    }
    std::uint64_t lo = 0 - bl;
    std::uint64_t hi = ma - bh - static_cast<std::uint64_t>(bl != 0);
    if (hi == 0 && lo == 0) return SoftExtended();
    if (hi == 0) {
      hi = lo;
      lo = 0;
      ea -= 64;
    }
    const int shift = std::countl_zero(hi);
    if (shift != 0) {
      hi = (hi << shift) | (lo >> (64 - shift));
      lo <<= shift;
      ea -= shift;
    }
    return round_pack(negative, ea, hi, lo);
  }

  static constexpr SoftExtended multiply(SoftExtended a, SoftExtended b) {
    using namespace soft_detail;
    const bool negative = a.negative() != b.negative();
    const int fa = a.exponent_field();
    const int fb = b.exponent_field();
    if (fa == kMaxField || fb == kMaxField) {
      if (a.is_nan() || b.is_nan()) return propagate(a, b);
      if (a.is_zero() || b.is_zero()) return default_nan();
      return infinity(negative);
    }
    if (a.significand_ == 0 || b.significand_ == 0) return make(negative, 0, 0);
    int ea = 0;
    int eb = 0;
    std::uint64_t ma = 0;
    std::uint64_t mb = 0;
    a.unpack(ea, ma);
    b.unpack(eb, mb);
    Wide p = soft_detail::multiply(ma, mb);
    int field = ea + eb - kBias + 1;
    if ((p.hi & kTop) == 0) {
      p.hi = (p.hi << 1) | (p.lo >> 63);
      p.lo <<= 1;
      --field;
    }
    return round_pack(negative, field, p.hi, p.lo);
  }

  static constexpr SoftExtended divide(SoftExtended a, SoftExtended b) {
    using namespace soft_detail;
    const bool negative = a.negative() != b.negative();
    const int fa = a.exponent_field();
    const int fb = b.exponent_field();
    if (fa == kMaxField || fb == kMaxField) {
      if (a.is_nan() || b.is_nan()) return propagate(a, b);
      if (a.is_inf() && b.is_inf()) return default_nan();
      return a.is_inf() ? infinity(negative) : make(negative, 0, 0);
    }
    if (b.significand_ == 0) return a.significand_ == 0 ? default_nan() : infinity(negative);
    if (a.significand_ == 0) return make(negative, 0, 0);
    int ea = 0;
    int eb = 0;
    std::uint64_t ma = 0;
    std::uint64_t mb = 0;
    a.unpack(ea, ma);
    b.unpack(eb, mb);
    int field = ea - eb + kBias;
    std::uint64_t u1 = ma;
    std::uint64_t u0 = 0;
    if (ma >= mb) {
      u1 = ma >> 1;
      u0 = ma << 63;
    } else {
      --field;
    }
    std::uint64_t r = 0;
    const std::uint64_t q1 = soft_detail::divide(u1, u0, mb, r);
    std::uint64_t r2 = 0;
    std::uint64_t q0 = soft_detail::divide(r, 0, mb, r2);
    q0 |= static_cast<std::uint64_t>(r2 != 0);
    return round_pack(negative, field, q1, q0);
  }

  constexpr SoftExtended to_whole(bool down) const {
    using namespace soft_detail;
    const int field = exponent_field();
    if (field == kMaxField) return is_nan() ? quieted(*this) : *this;
    if (field >= kBias + 63 || significand_ == 0) return *this;
    const bool away = down == negative();  // rounding away from zero
    if (field < kBias) {                   // |x| < 1
      if (away) return make(negative(), kBias, kTop);
      return make(negative(), 0, 0);
    }
    const int fraction_bits = 63 - (field - kBias);
    const std::uint64_t mask = (std::uint64_t{1} << fraction_bits) - 1;
    if ((significand_ & mask) == 0) return *this;
    std::uint64_t whole = significand_ & ~mask;
    if (!away) return make(negative(), field, whole);
    whole += mask + 1;
    if (whole == 0) return make(negative(), field + 1, kTop);
    return make(negative(), field, whole);
  }

  constexpr SoftExtended root() const {
    using namespace soft_detail;
    if (is_nan()) return quieted(*this);
    if (significand_ == 0 && exponent_field() == 0) return *this;  // sqrt(-0) = -0
    if (negative()) return default_nan();
    if (is_inf()) return *this;
    int field = 0;
    std::uint64_t m = 0;
    unpack(field, m);
    // value = m 2^(e - 63), e = field - bias; make the exponent even and take the root of
    // n = m 2^64 (or m 2^65): a 64-bit root with its top bit set.
    const int e = field - kBias;
    std::uint64_t nh = m;
    std::uint64_t nl = 0;
    int half = 0;
    if ((e & 1) != 0) {  // e odd: m 2^(e-63) = (m 2^64) 2^(e-127), e - 127 even
      half = (e - 127) / 2;
    } else {  // m 2^(e-63) = (m 2^63) 2^(e-126)
      nl = nh << 63;
      nh >>= 1;
      half = (e - 126) / 2;
    }
    // Root of n = nh:nl by Newton's method from below, n in [2^126, 2^128).
    std::uint64_t r = 0;
    for (int bit = 63; bit >= 0; --bit) {
      const std::uint64_t candidate = r | (std::uint64_t{1} << bit);
      const Wide sq = soft_detail::multiply(candidate, candidate);
      if (sq.hi < nh || (sq.hi == nh && sq.lo <= nl)) r = candidate;
    }
    const Wide sq = soft_detail::multiply(r, r);
    // remainder n - r^2; the root rounds up when the remainder exceeds r (no ties exist).
    const std::uint64_t rem_lo = nl - sq.lo;
    const std::uint64_t rem_hi = nh - sq.hi - static_cast<std::uint64_t>(nl < sq.lo);
    const bool up = rem_hi != 0 || rem_lo > r;
    const bool exact = rem_hi == 0 && rem_lo == 0;
    // r 2^half is the root's integer part; result = (r + rounding) 2^(half), r in [2^63, 2^64).
    return round_pack(false, half + 63 + kBias, r, up ? kTop | 1 : (exact ? 0 : 1));
  }
};

}  // namespace iq
