// SPDX-License-Identifier: MIT
// The software extended type against the x87 unit: edge cases and random operands, bit for bit.
// Where long double is not the x87 format, the table of results recorded on x86 stands in.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "arith/precision.hpp"
#include "arith/soft_extended.hpp"

namespace iq {
namespace {

using Soft = SoftExtended;

Soft fields(unsigned sign_exponent, std::uint64_t significand) {
  return Soft::from_fields(static_cast<std::uint16_t>(sign_exponent), significand);
}

std::string show(Soft x) {
  char text[40];
  std::snprintf(text, sizeof text, "%04x:%016llx", x.sign_exponent(),
                static_cast<unsigned long long>(x.significand()));
  return text;
}

// One operation on soft or x87 values, its result as a soft value: + - * / on a and b; f floor,
// c ceil, q sqrt, n negation of a; d and s: a's double and float bits as the significand.
template <typename T, typename ToSoft>
Soft apply(char op, T a, T b, ToSoft to_soft) {
  using std::ceil, std::floor, std::sqrt;
  switch (op) {
    case '+':
      return to_soft(a + b);
    case '-':
      return to_soft(a - b);
    case '*':
      return to_soft(a * b);
    case '/':
      return to_soft(a / b);
    case 'f':
      return to_soft(floor(a));
    case 'c':
      return to_soft(ceil(a));
    case 'q':
      return to_soft(sqrt(a));
    case 'n':
      return to_soft(-a);
    case 'd':
      return fields(0, std::bit_cast<std::uint64_t>(static_cast<double>(a)));
    default:
      return fields(0, std::bit_cast<std::uint32_t>(static_cast<float>(a)));
  }
}

// Random operands that reach every path: any exponent now and then, mostly exponents near
// one another (cancellation, carries), near the ends of the range (subnormals, overflow),
// significands with long runs of ones or zeros (ties and carries into the exponent), special
// values.
Soft operand(std::mt19937_64& rng, Soft near) {
  const std::uint64_t r = rng();
  const unsigned sign = (r & 1) ? 0x8000u : 0u;
  std::uint64_t m = rng();
  switch ((r >> 1) % 8) {  // significand pattern
    case 0:
      m |= 0xFFFFFFFFFFFF0000u >> (r >> 8) % 40;
      break;
    case 1:
      m &= ~(0xFFFFFFFFu << (r >> 8) % 32);
      break;
    case 2:
      m = m >> (r >> 8) % 64 << (r >> 8) % 64;
      break;
    case 3:
      m = near.significand() + ((r >> 16) % 8) - 4;
      break;
    default:
      break;
  }
  int field = 0;
  switch ((r >> 4) % 16) {  // exponent
    case 0:
      field = static_cast<int>((r >> 20) % 0x7FFF);
      break;
    case 1:
      field = static_cast<int>((r >> 20) % 80);
      break;  // subnormal border
    case 2:
      field = 0x7FFE - static_cast<int>((r >> 20) % 80);
      break;  // overflow border
    case 3:
      field = 16383 + static_cast<int>((r >> 20) % 300) - 150;
      break;
    case 4: {  // zero, infinity, NaN, subnormal, least normal, greatest finite
      const Soft special[] = {fields(sign, 0),
                              fields(sign | 0x7FFF, 0x8000000000000000u),
                              fields(sign | 0x7FFF, 0xC000000000000000u | (m >> 2)),
                              fields(sign, m >> 1 >> (r % 64)),
                              fields(sign | 1, 0x8000000000000000u),
                              fields(sign | 0x7FFE, 0xFFFFFFFFFFFFFFFFu)};
      return special[(r >> 21) % 6];
    }
    default:
      field = near.exponent_field() + static_cast<int>((r >> 20) % 140) - 70;
      break;
  }
  if (field <= 0 || field >= 0x7FFF) field = 16383;
  if ((r >> 40) % 64 == 0) field = 0;  // a subnormal
  m = field != 0 ? m | 0x8000000000000000u : m & 0x7FFFFFFFFFFFFFFFu;
  return fields(sign | static_cast<unsigned>(field), m);
}

// Results of the x87 unit recorded on x86 (operation as in apply, operands and result as
// sign-exponent and significand), checked on every processor.
struct RecordedCase {
  char op;
  std::uint16_t a_se;
  std::uint64_t a_m;
  std::uint16_t b_se;
  std::uint64_t b_m;
  std::uint16_t r_se;
  std::uint64_t r_m;
};
constexpr RecordedCase kRecordedCases[] = {
#include "data/soft_extended_cases.inc"
};

TEST(SoftExtendedTest, MatchesTheResultsRecordedOnTheX87Unit) {
  for (const auto& c : kRecordedCases) {
    const Soft a = fields(c.a_se, c.a_m);
    const Soft b = fields(c.b_se, c.b_m);
    EXPECT_EQ(show(apply(c.op, a, b, std::identity())), show(fields(c.r_se, c.r_m)))
        << show(a) << ' ' << c.op << ' ' << show(b);
  }
  EXPECT_GT(std::size(kRecordedCases), 4000u);
}

TEST(SoftExtendedTest, DefaultNanIsNegativeAndPrintsMinusNan) {
  const Soft zero = 0;
  for (const Soft nan : {zero / zero, Soft::from_fields(0x7FFF, 0x8000000000000000u) * zero}) {
    char text[16];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(nan));
    EXPECT_STREQ(text, "-nan");
  }
}

// Without the x87 unit the rest of the checks cannot run.
#if LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384

// The x87 unit's value of a soft value and back (the ten bytes of the format are the same).
struct X87Bytes {
  std::uint64_t m;
  std::uint16_t se;
  unsigned char padding[sizeof(long double) - 10];
};
long double hard(Soft x) { return std::bit_cast<long double>(X87Bytes{x.significand(), x.sign_exponent(), {}}); }
Soft soft(long double v) {
  const auto bytes = std::bit_cast<X87Bytes>(v);
  return fields(bytes.se, bytes.m);
}

struct EdgeCase {
  const char* name;
  std::uint16_t a_se;
  std::uint64_t a_m;
  std::uint16_t b_se;
  std::uint64_t b_m;
};
constexpr EdgeCase kEdgeCases[] = {
#include "data/soft_extended_edges.inc"
};

// Checks the operations named in ops, on a (and b), against the x87 unit.
void check(std::string_view ops, Soft a, Soft b) {
  volatile long double ha = hard(a);  // volatile: computed at run time on the unit
  volatile long double hb = hard(b);
  for (const char op : ops) {
    const Soft got = apply(op, a, b, std::identity());
    const Soft want = apply(op, static_cast<long double>(ha), static_cast<long double>(hb), soft);
    if (show(got) != show(want))
      ADD_FAILURE() << show(a) << ' ' << op << ' ' << show(b) << ": " << show(got) << " != " << show(want);
  }
}

void check_pair(Soft a, Soft b) {
  check("+-*/", a, b);
  const long double ha = hard(a);
  const long double hb = hard(b);
  if ((a < b) != (ha < hb) || (a > b) != (ha > hb) || (a <= b) != (ha <= hb) || (a >= b) != (ha >= hb) ||
      (a == b) != (ha == hb))
    ADD_FAILURE() << "comparing " << show(a) << " and " << show(b);
}

void check_single(Soft x) {
  check("fcqnds", x, Soft());
  const long double hx = hard(x);
  if (std::fabs(hx) < 0x1p63L &&
      static_cast<std::int64_t>(x) != static_cast<std::int64_t>(hx))  // beyond: undefined
    ADD_FAILURE() << "int64 " << show(x);
  if (hx >= 0 && hx < 0x1p64L && static_cast<std::uint64_t>(x) != static_cast<std::uint64_t>(hx))
    ADD_FAILURE() << "uint64 " << show(x);
}

void run_random(std::uint64_t seed, long long pairs) {
  std::mt19937_64 rng(seed);
  Soft previous = fields(16383, 0x8000000000000000u);
  for (long long k = 0; k < pairs && !::testing::Test::HasFailure(); ++k) {
    const Soft a = operand(rng, previous);
    const Soft b = operand(rng, a);
    check_pair(a, b);
    if ((k & 3) == 0) check_single(a);
    previous = b;
  }
}

TEST(SoftExtendedTest, EdgeCasesMatchTheX87Unit) {
  for (const auto& c : kEdgeCases) {
    const Soft a = fields(c.a_se, c.a_m);
    const Soft b = fields(c.b_se, c.b_m);
    SCOPED_TRACE(c.name);
    for (const auto& [x, y] : {std::pair(a, b), std::pair(b, a), std::pair(-a, b), std::pair(a, -b)})
      check_pair(x, y);
    check_single(a);
    check_single(b);
  }
}

TEST(SoftExtendedTest, ConversionsFromIntegersFloatsAndDoublesAreExact) {
  std::mt19937_64 rng(11);
  const auto exact = [&](const char* what, auto value) {
    const Soft want = soft(static_cast<long double>(value));
    if (show(Soft(value)) != show(want)) ADD_FAILURE() << what << ' ' << show(want) << ": " << show(Soft(value));
  };
  for (int k = 0; k < 200000 && !HasFailure(); ++k) {
    std::uint64_t bits = rng();
    if (k % 4 == 0) bits &= 0x800FFFFFFFFFFFFFu;  // subnormal or zero
    exact("double", std::bit_cast<double>(bits));
    exact("float", std::bit_cast<float>(static_cast<std::uint32_t>(rng())));
    const auto i = static_cast<std::int64_t>(rng() >> (k % 64));
    exact("int64", i);
    exact("negative int64", -i);
    exact("uint64", rng() >> (k % 64));
    exact("int", static_cast<int>(rng()));
    exact("uint8", static_cast<std::uint8_t>(k));
  }
  const auto least = std::numeric_limits<std::int64_t>::min();
  exact("least int64", least);
  EXPECT_EQ(static_cast<std::int64_t>(Soft(least)), least);
}

TEST(SoftExtendedTest, RandomOperandsMatchTheX87Unit) { run_random(2026, 1500000); }

// About 10^8 operations: ctest -C long -L long_extended (not part of the default run).
TEST(SoftExtendedTest, DISABLED_ManyRandomOperandsMatchTheX87Unit) {
  const char* pairs = std::getenv("IQTOOLS_EXTENDED_PAIRS");
  run_random(99, pairs ? std::atoll(pairs) : 12000000);
}

// Writes data/soft_extended_cases.inc from the x87 unit:
// iqtools_tests --gtest_also_run_disabled_tests --gtest_filter=*RecordsTheCases > table
TEST(SoftExtendedTest, DISABLED_RecordsTheCases) {
  const auto record = [](std::string_view ops, Soft a, Soft b) {
    for (const char op : ops) {
      const Soft r = apply(op, hard(a), hard(b), soft);
      std::printf("    {'%c', 0x%04x, 0x%016llxu, 0x%04x, 0x%016llxu, 0x%04x, 0x%016llxu},\n", op,
                  a.sign_exponent(), static_cast<unsigned long long>(a.significand()), b.sign_exponent(),
                  static_cast<unsigned long long>(b.significand()), r.sign_exponent(),
                  static_cast<unsigned long long>(r.significand()));
    }
  };
  const auto record_all = [&](Soft a, Soft b, bool both_orders) {
    record("+-*/", a, b);
    if (both_orders) record("+-*/", b, a);
    record("fcqds", a, Soft());
  };
  for (const auto& c : kEdgeCases) record_all(fields(c.a_se, c.a_m), fields(c.b_se, c.b_m), true);
  std::mt19937_64 rng(5);
  Soft previous = fields(16383, 0x8000000000000000u);
  for (int k = 0; k < 400; ++k) {
    const Soft a = operand(rng, previous);
    const Soft b = operand(rng, a);
    record_all(a, b, false);
    previous = b;
  }
}

#endif

}  // namespace
}  // namespace iq
