// The exact integer steps: 32-bit wrapping, the 32-bit fit of a 64-bit
// difference, and the saturating float-to-integer conversions at the bounds of
// every integer width.
#include "morrowtide/compressor/exact_arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <limits>

using morrowtide::fitsI32;
using morrowtide::inIntegerRange;
using morrowtide::roundHalfAwaySaturating;
using morrowtide::roundHalfAwayToI32;
using morrowtide::saturatingToI32;
using morrowtide::truncateSaturating;
using morrowtide::wrappingDifference;
using morrowtide::wrappingProduct;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ExactArithmetic, DifferencesAndProductsWrapIn32Bits) {
  EXPECT_EQ(wrappingDifference(0, 1), -1);
  EXPECT_EQ(wrappingDifference(0x80000000u, 0), INT32_MIN);
  EXPECT_EQ(wrappingDifference(0x7FFFFFFFu, 0xFFFFFFFFu), INT32_MIN);
  EXPECT_EQ(wrappingDifference(5, 0xFFFFFFFFu), 6);
  EXPECT_EQ(wrappingProduct(0x10000, 0x10000), 0);
  EXPECT_EQ(wrappingProduct(-10, INT32_MIN), 0);
  EXPECT_EQ(wrappingProduct(3, INT32_MAX), 2147483645);
  EXPECT_EQ(wrappingProduct(500, 5000000), -1794967296);
  EXPECT_EQ(wrappingProduct(-1, INT32_MIN), INT32_MIN);
}

TEST(ExactArithmetic, Fits32AtBothLimits) {
  struct Case {
    uint64_t d;
    bool fits;
  };
  const Case cases[] = {
      {0, true},
      {0x7FFFFFFFull, true},           // 2^31 - 1
      {0x80000000ull, false},          // 2^31
      {0xFFFFFFFFull, false},          // 2^32 - 1: its low half alone would read as -1
      {0xFFFFFFFF80000000ull, true},   // -2^31
      {0xFFFFFFFF7FFFFFFFull, false},  // -2^31 - 1
      {0xFFFFFFFFFFFFFFFFull, true},   // -1
      {0x100000000ull, false},         // 2^32: its low half alone would read as 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.d);
    EXPECT_EQ(fitsI32(c.d), c.fits);
  }
}

TEST(ExactArithmetic, SaturatingToI32TruncatesTowardZeroAndSaturates) {
  struct Case {
    double v;
    int32_t expected;
  };
  const Case cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {-0.5, 0},
      {2147483647.0, INT32_MAX},
      {2147483647.9, INT32_MAX},
      {2147483648.0, INT32_MAX},
      {1e300, INT32_MAX},
      {kInf, INT32_MAX},
      {-2147483648.0, INT32_MIN},
      {-2147483648.9, INT32_MIN},  // truncates into range
      {-2147483649.0, INT32_MIN},
      {-kInf, INT32_MIN},
      {kNaN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(saturatingToI32(c.v), c.expected);
  }
}

TEST(ExactArithmetic, SaturatingToI32OfF32) {
  // 2147483520 is the largest F32 below 2^31; the next one is 2^31 itself.
  EXPECT_EQ(saturatingToI32(2147483520.0f), 2147483520);
  EXPECT_EQ(saturatingToI32(2147483648.0f), INT32_MAX);
  EXPECT_EQ(saturatingToI32(-2147483648.0f), INT32_MIN);
  EXPECT_EQ(saturatingToI32(-2147483904.0f), INT32_MIN);
  EXPECT_EQ(saturatingToI32(-7.75f), -7);
  EXPECT_EQ(saturatingToI32(std::numeric_limits<float>::infinity()), INT32_MAX);
  EXPECT_EQ(saturatingToI32(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(ExactArithmetic, RoundHalfAwayToI32) {
  struct Case {
    double v;
    int32_t expected;
  };
  const Case cases[] = {
      {0.0, 0},
      {0.5, 1},
      {-0.5, -1},
      {1.4999, 1},
      {-1.4999, -1},
      {2.5, 3},
      {-2.5, -3},
      {-21166.666666666668, -21167},  // -127 degrees in 0.006 steps
      {2147483646.5, INT32_MAX},
      {2147483647.5, INT32_MAX},  // rounds to 2^31: saturates
      {-2147483648.4, INT32_MIN},
      {-2147483648.5, INT32_MIN},  // rounds to -2^31 - 1: saturates
      {1e10, INT32_MAX},
      {-1e10, INT32_MIN},
      {kNaN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(roundHalfAwayToI32(c.v), c.expected);
  }
}

// A value, the result expected of it for T.
template <typename T>
struct Conversion {
  double v;
  T expected;
};

template <typename T>
void expectTruncated(std::initializer_list<Conversion<T>> cases) {
  for (const Conversion<T>& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(truncateSaturating<T>(c.v), c.expected);
  }
}

template <typename T>
void expectRounded(std::initializer_list<Conversion<T>> cases) {
  for (const Conversion<T>& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(roundHalfAwaySaturating<T>(c.v), c.expected);
  }
}

TEST(ExactArithmetic, TruncateSaturatingAtTheBoundsOfEveryWidth) {
  expectTruncated<uint8_t>(
      {{255.9, 255}, {256.0, 255}, {-0.9, 0}, {-1.0, 0}, {kInf, 255}, {-kInf, 0}, {kNaN, 0}});
  expectTruncated<int8_t>(
      {{127.9, 127}, {128.0, 127}, {-128.9, -128}, {-129.0, -128}, {-2.5, -2}, {kNaN, 0}});
  expectTruncated<uint16_t>({{65535.9, 65535}, {65536.0, 65535}, {-7.0, 0}});
  expectTruncated<int16_t>(
      {{32767.9, 32767}, {32768.0, 32767}, {-32768.9, -32768}, {-32769.0, -32768}});
  expectTruncated<uint32_t>({{4294967295.9, 4294967295u},
                             {4294967296.0, 4294967295u},
                             {1e300, 4294967295u},
                             {-0.5, 0},
                             {-5.0, 0},
                             {kNaN, 0}});
  // 2^63 - 1024 and 2^64 - 2048 are the largest F64 values below 2^63 and 2^64.
  expectTruncated<int64_t>({{9223372036854774784.0, INT64_C(9223372036854774784)},
                            {9223372036854775808.0, INT64_MAX},
                            {-9223372036854775808.0, INT64_MIN},
                            {-1e19, INT64_MIN},
                            {-kInf, INT64_MIN},
                            {kNaN, 0}});
  expectTruncated<uint64_t>({{18446744073709549568.0, UINT64_C(18446744073709549568)},
                             {18446744073709551616.0, UINT64_MAX},
                             {kInf, UINT64_MAX},
                             {-1.0, 0},
                             {kNaN, 0}});
}

TEST(ExactArithmetic, RoundHalfAwaySaturatingGivesUnsignedTypesZeroBelowZero) {
  // The extra-bytes values store an unsigned type's negatives as 0.
  expectRounded<uint8_t>({{254.5, 255},
                          {255.5, 255},
                          {0.49, 0},
                          {0.5, 1},
                          {-0.4, 0},
                          {-1e300, 0},
                          {-kInf, 0},
                          {kNaN, 0}});
  expectRounded<int8_t>({{-127.5, -128}, {-128.5, -128}, {126.5, 127}, {127.5, 127}, {-0.5, -1}});
  expectRounded<uint16_t>({{65534.5, 65535}, {-3.0, 0}});
  expectRounded<int16_t>({{2.5, 3}, {-2.5, -3}, {-32768.5, -32768}});
  expectRounded<uint32_t>({{4294967294.5, 4294967295u}, {-0.5, 0}});
  expectRounded<int64_t>({{0.5, 1}, {-1.5, -2}, {1e19, INT64_MAX}});
  expectRounded<uint64_t>({{1.5, 2}, {2e19, UINT64_MAX}, {-2.5, 0}});
}

TEST(ExactArithmetic, InIntegerRangeIsTheRangeThatTruncatesExactly) {
  EXPECT_TRUE(inIntegerRange<int32_t>(-2147483648.0));
  EXPECT_TRUE(inIntegerRange<int32_t>(2147483647.9));
  EXPECT_FALSE(inIntegerRange<int32_t>(2147483648.0));
  // Truncates to -2^31 too, but lies below the range; saturation gives the same.
  EXPECT_FALSE(inIntegerRange<int32_t>(-2147483648.5));
  EXPECT_EQ(truncateSaturating<int32_t>(-2147483648.5), INT32_MIN);
  EXPECT_TRUE(inIntegerRange<int64_t>(-9223372036854775808.0));
  EXPECT_TRUE(inIntegerRange<int64_t>(9223372036854774784.0));
  EXPECT_FALSE(inIntegerRange<int64_t>(9223372036854775808.0));
  EXPECT_TRUE(inIntegerRange<uint32_t>(0.0));
  EXPECT_FALSE(inIntegerRange<uint32_t>(-0.5));
  EXPECT_FALSE(inIntegerRange<int32_t>(kNaN));
  EXPECT_FALSE(inIntegerRange<int32_t>(kInf));
  EXPECT_FALSE(inIntegerRange<int32_t>(-kInf));
}

}  // namespace
