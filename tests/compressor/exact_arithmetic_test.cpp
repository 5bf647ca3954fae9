// The exact integer steps: 32-bit wrapping, the 32-bit fit of a 64-bit
// difference, and the saturating float-to-I32 conversions at their bounds.
#include "morrowtide/compressor/exact_arithmetic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using morrowtide::fitsI32;
using morrowtide::roundHalfAwayToI32;
using morrowtide::saturatingToI32;
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

}  // namespace
